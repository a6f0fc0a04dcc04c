"""The Processing provider "TESK" (id ``tesk``) and its one algorithm."""
from qgis.core import QgsProcessingProvider
from qgis.PyQt.QtGui import QIcon

from .algorithm import ICON, ContoursToDem


class TeskProvider(QgsProcessingProvider):
    def id(self):
        return "tesk"

    def name(self):
        return "TESK"

    def icon(self):
        return QIcon(ICON)

    def svgIconPath(self):  # noqa: N802
        return ICON

    def loadAlgorithms(self):  # noqa: N802
        self.addAlgorithm(ContoursToDem())
