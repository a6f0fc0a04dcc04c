#!/usr/bin/env python3
"""The README's picture of TESK in QGIS: the dialog of "Contours to DEM" and its DEM over a hillshade.

    PYTHONPATH=build/release/python /usr/bin/python3 scripts/qgis_screenshot.py [docs/qgis.png]

Run as a script, it installs the plugin into a temporary QGIS profile and starts QGIS's GUI (qgis.bin, on a
virtual X screen by xvfb-run; Debian: qgis, python3-qgis, xvfb) with itself as the code QGIS runs once
started.  Inside QGIS it loads the demo contours, opens the algorithm's dialog from the toolbox's registry,
runs it as a user would (interval 20, window 3), shows the DEM loaded by Processing in colours over a
hillshade of it, and saves the screen.  The tests do not run it.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

# QGIS runs this file again (--code), where __file__ may be unset: the environment names the root then.
ROOT = pathlib.Path(os.environ.get("TESK_ROOT") or pathlib.Path(__file__).resolve().parents[1])
SIZE = (1920, 1080)


def start_qgis(picture):
    with tempfile.TemporaryDirectory() as tmp:
        os.mkdir(os.path.join(tmp, "run"), 0o700)
        env = dict(os.environ, HOME=tmp, XDG_RUNTIME_DIR=os.path.join(tmp, "run"), TESK_PICTURE=str(picture),
                   TESK_WORK=tmp, TESK_ROOT=str(ROOT))
        env.pop("QT_QPA_PLATFORM", None)
        profile = pathlib.Path(tmp, "profiles", "profiles", "default")
        subprocess.run([sys.executable, "-m", "tesk.qgis", "install", "--profile-dir", str(profile)], env=env,
                       check=True)
        subprocess.run(["xvfb-run", "-a", "-s", f"-screen 0 {SIZE[0]}x{SIZE[1]}x24", "qgis.bin", "--nologo",
                        "--profiles-path", os.path.join(tmp, "profiles"), "--code",
                        str(ROOT / "scripts" / "qgis_screenshot.py")], env=env, check=True)
    print(f"wrote {picture}")


def inside_qgis(iface):
    import processing
    from qgis.core import (QgsColorRampShader, QgsHillshadeRenderer, QgsProject, QgsRasterLayer, QgsRasterShader,
                           QgsSingleBandPseudoColorRenderer, QgsStyle)
    from qgis.PyQt.QtCore import Qt, QTimer
    from qgis.PyQt.QtGui import QImage
    from qgis.PyQt.QtWidgets import QApplication, QDockWidget

    window = iface.mainWindow()
    for dock in window.findChildren(QDockWidget):  # on the left the layers panel, and the toolbox found by its search
        dock.setVisible(dock.objectName() in ("Layers", "ProcessingToolbox"))
        if dock.objectName() == "ProcessingToolbox":
            window.addDockWidget(Qt.LeftDockWidgetArea, dock)
            dock.searchBox.setText("contours to dem")
    window.setGeometry(0, 0, *SIZE)
    window.showMaximized()
    # A copy: QGIS leaves its statistics beside the rasters it opens.
    source = shutil.copy(ROOT / "images" / "demo" / "jacksboro_i20_c.tif", os.environ["TESK_WORK"])
    contours = QgsRasterLayer(source, "jacksboro_i20_c")
    QgsProject.instance().addMapLayer(contours)
    dem_path = os.path.join(os.environ["TESK_WORK"], "jacksboro_dem.tif")
    dialog = processing.createAlgorithmDialog("tesk:contourstodem", {
        "INPUT": contours.id(), "INTERVAL": 20, "WINDOW": 3, "OUTPUT": dem_path})
    dialog.setGeometry(SIZE[0] - 700, 70, 690, 920)
    dialog.show()

    def run():
        dialog.runAlgorithm()

    def style():
        dem = QgsProject.instance().mapLayersByName("DEM")[0]
        ramp = QgsStyle.defaultStyle().colorRamp("Spectral")
        ramp.invert()
        shader = QgsColorRampShader(240, 1060, ramp)
        shader.classifyColorRamp(12)
        function = QgsRasterShader()
        function.setRasterShaderFunction(shader)
        dem.setRenderer(QgsSingleBandPseudoColorRenderer(dem.dataProvider(), 1, function))
        dem.renderer().setOpacity(0.55)
        shade = QgsRasterLayer(dem.source(), "Hillshade of the DEM")
        shade.setRenderer(QgsHillshadeRenderer(shade.dataProvider(), 1, 315, 45))
        QgsProject.instance().addMapLayer(shade, False)
        root = QgsProject.instance().layerTreeRoot()
        root.addLayer(shade)  # at the bottom, under the DEM
        root.findLayer(contours.id()).setItemVisibilityChecked(False)
        canvas, e = iface.mapCanvas(), dem.extent()
        shown = (dialog.x() - canvas.mapToGlobal(canvas.rect().topLeft()).x()) / canvas.width()  # left of the dialog
        e.setXMaximum(e.xMinimum() + e.width() / shown)
        canvas.setExtent(e)
        canvas.refreshAllLayers()
        dialog.showParameters() if hasattr(dialog, "showParameters") else None

    def shoot():
        screen = QApplication.primaryScreen().grabWindow(0).toImage()
        screen.convertToFormat(QImage.Format_Indexed8, Qt.DiffuseDither).save(os.environ["TESK_PICTURE"])  # 256 colours
        os._exit(0)  # QGIS 3.22 may crash on its way out once a script has run

    QTimer.singleShot(3000, run)
    QTimer.singleShot(8000, style)
    QTimer.singleShot(14000, shoot)


if "TESK_WORK" in os.environ:  # run by QGIS (--code)
    from qgis.utils import iface as _iface
    inside_qgis(_iface)
else:
    start_qgis(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "docs" / "qgis.png").resolve())
