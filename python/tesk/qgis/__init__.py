"""TESK in QGIS: a Processing provider whose algorithm tesk:contourstodem runs `tesk.run` in QGIS's process.

This folder is a QGIS plugin.  ``python3 -m tesk.qgis install`` puts it into a QGIS profile as the plugin
``tesk_processing`` (a name that never shadows the package itself) and ``python3 -m tesk.qgis zip`` packs it
for QGIS's "Install from ZIP".  QGIS itself is imported only when QGIS loads the plugin, so that those
commands run without it.
"""


def classFactory(iface):  # noqa: N802 - the name QGIS calls; iface is None under qgis_process and never used
    from .plugin import TeskPlugin
    return TeskPlugin()
