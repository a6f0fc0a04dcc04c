"""The plugin object QGIS starts: it registers the Processing provider, in the GUI as under qgis_process."""
from qgis.core import QgsApplication


class TeskPlugin:
    def __init__(self):
        self.provider = None

    def initProcessing(self):  # noqa: N802 - QGIS's names
        if self.provider is None:
            from .provider import TeskProvider
            self.provider = TeskProvider()
            QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):  # noqa: N802 - the GUI calls only this one
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
