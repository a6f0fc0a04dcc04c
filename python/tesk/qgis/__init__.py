"""TESK in QGIS: a Processing provider whose algorithm tesk:contourstodem runs `tesk.run` in QGIS's process.

``python3 -m tesk.qgis install`` writes a QGIS plugin ``tesk_processing`` (a name that never shadows the
package itself) into a QGIS profile, and ``python3 -m tesk.qgis zip`` packs it for QGIS's "Install from ZIP":
its metadata, its icon and a module whose classFactory is this one, so that the code runs from here, under
the one name tesk.qgis.  QGIS itself is imported only when QGIS loads the plugin, so that those commands run
without it.
"""


def classFactory(iface):  # noqa: N802 - the name QGIS calls; iface is None under qgis_process and never used
    from .plugin import TeskPlugin
    return TeskPlugin()
