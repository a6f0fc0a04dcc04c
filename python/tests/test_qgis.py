"""The QGIS plugin in a temporary profile: qgis_process and PyQGIS against the command line (TESK_EXE)."""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import zipfile

import numpy as np
import pytest
from osgeo import gdal

import tesk

DEMO = pathlib.Path(os.environ.get("TESK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2])) / "images" / "demo"
gdal.UseExceptions()


@pytest.fixture(scope="module")
def profile(tmp_path_factory):  # a HOME of its own; the install makes the default profile, keeping its settings
    home = tmp_path_factory.mktemp("home")
    (home / "run").mkdir(mode=0o700)
    os.environ.update(HOME=str(home), XDG_DATA_HOME=str(home / "data"), XDG_RUNTIME_DIR=str(home / "run"),
                      QT_QPA_PLATFORM="offscreen")
    ini = home / "data" / "QGIS" / "QGIS3" / "profiles" / "default" / "QGIS" / "QGIS3.ini"
    ini.parent.mkdir(parents=True)
    ini.write_text("[PythonPlugins]\nother=true\ntesk_processing=false\n\n[qgis]\nkept=1\n")
    for _ in range(2):  # the second install replaces the first
        subprocess.run([sys.executable, "-m", "tesk.qgis", "install"], check=True)
    assert ini.read_text() == "[PythonPlugins]\ntesk_processing=true\nother=true\n\n[qgis]\nkept=1\n"
    return ini.parents[1]


@pytest.fixture(scope="module")
def raster(tmp_path_factory):  # a copy: QGIS leaves its statistics beside the rasters it opens
    return pathlib.Path(shutil.copy(DEMO / "jacksboro_i20_c.tif", tmp_path_factory.mktemp("raster")))


@pytest.fixture(scope="module")
def lines(tmp_path_factory):  # a GeoPackage of two layers: contours every 20 m, and those above 900 m
    path = str(tmp_path_factory.mktemp("lines") / "lines.gpkg")
    subprocess.run(["gdal_contour", "-q", "-a", "ELEV", "-i", "20", "-nln", "c20", str(DEMO / "jacksboro_true.tif"),
                    path], check=True)
    subprocess.run(["ogr2ogr", "-update", "-nln", "high", "-sql", "SELECT * FROM c20 WHERE ELEV > 900", path, path],
                   check=True)
    return path


@pytest.fixture(scope="module")
def qgis(profile):  # PyQGIS with Processing and the installed plugin
    from qgis.core import QgsApplication
    app = QgsApplication([], False)
    app.initQgis()
    sys.path[:0] = ["/usr/share/qgis/python/plugins", str(profile / "python" / "plugins")]
    from processing.core.Processing import Processing
    Processing.initialize()
    import processing
    import tesk_processing
    plugin = tesk_processing.classFactory(None)  # kept alive with its provider
    plugin.initProcessing()
    assert "tesk.qgis.algorithm" in sys.modules and not any(m.startswith("tesk_processing.") for m in sys.modules)
    yield processing


def cli(out, src, *options):
    subprocess.run([os.environ["TESK_EXE"], "-q", "--overwrite", *map(str, options), str(src), str(out)], check=True)
    return out


def assert_same_raster(a, b):
    a, b = gdal.Open(str(a)), gdal.Open(str(b))
    assert (a.GetGeoTransform(), a.GetProjection(), a.GetRasterBand(1).GetNoDataValue(), a.GetRasterBand(1).DataType) \
        == (b.GetGeoTransform(), b.GetProjection(), b.GetRasterBand(1).GetNoDataValue(), b.GetRasterBand(1).DataType)
    assert np.array_equal(a.ReadAsArray(), b.ReadAsArray(), equal_nan=True)


def test_qgis_process_lists_and_runs_it_as_the_command_line(profile, lines, raster, tmp_path):
    # qgis_process finds its Python's home through the python3 on PATH: the tests' own, not another one first there.
    env = dict(os.environ, PATH=os.pathsep.join([os.path.dirname(sys.executable), os.environ.get("PATH", "")]))
    qgis_process = lambda *args: subprocess.run(["qgis_process.bin", *args], check=True, capture_output=True, text=True,
                                                env=env)
    assert "tesk:contourstodem\tContours to DEM" in qgis_process("list").stdout
    vector = ["FIELD=ELEV", "PIXEL_SIZE=90", "WINDOW=3"], ["-l", "c20", "-a", "ELEV", "-tr", 90, 90, "-m", 3]
    integers = (["OUTPUT_TYPE=2", "OVERLAY=false", "TILE_SIZE=64", "HALO=8"],
                ["-ot", "UInt16", "--no-overlay", "--tile-size", 64, "--halo", 8])
    spline = (["METHOD=1", "SMOOTHING=0.05", "TENSION=0.1", "SPLINE_OVERLAY=true"],
              ["--method", "spline", "--smoothing", 0.05, "--tension", 0.1, "--overlay"])
    for src, layer, (params, options) in [(raster, "", integers), (lines, "|layername=c20", vector), (raster, "", spline)]:
        log = qgis_process("run", "tesk:contourstodem", "--", f"INPUT={src}{layer}", "INTERVAL=20", *params,
                           f"OUTPUT={tmp_path}/q.tif").stdout
        assert "--tile-size 64 --halo 8" in log or params != integers[0]  # the equivalent command line, in the log
        assert_same_raster(tmp_path / "q.tif", cli(tmp_path / "c.tif", src, "-i", 20, *options))


def test_mask_from_a_memory_layer_and_the_preview_are_the_command_line_s(qgis, raster, tmp_path):
    from qgis.core import QgsFeatureRequest, QgsVectorLayer
    mask = DEMO / "jacksboro_valleys.geojson"
    memory = QgsVectorLayer(str(mask), "valleys", "ogr").materialize(QgsFeatureRequest())
    result = qgis.run("tesk:contourstodem", {"INPUT": str(raster), "INTERVAL": 20, "WINDOW": 3, "MASK": memory,
                                             "OUTPUT": str(tmp_path / "q.tif"), "PREVIEW": str(tmp_path / "q.png")})
    assert_same_raster(result["OUTPUT"], cli(tmp_path / "c.tif", raster, "-i", 20, "-m", 3, "--mask", mask,
                                             "--preview", tmp_path / "c.png"))
    assert_same_raster(result["PREVIEW"], tmp_path / "c.png")


@pytest.mark.parametrize("params, words", [  # the run's messages name the parameters by their labels
    ({"INTERVAL": 0}, "^Contour interval must not be 0$"),
    ({"INTERVAL": 19.6}, "^Contour interval must be a whole number, not 19.6$"),
    ({"INTERVAL": 20, "INPUT": "lines", "FIELD": "ELEV", "PIXEL_SIZE": 90},
     r"choose the one that holds the contours with the input's layer \(add \|layername=NAME to its file\)$"),
    ({"INTERVAL": 20, "PIXEL_SIZE": 90}, r"^Pixel size \(vector input\): .* is a raster, and these options apply"),
    ({"INTERVAL": 20, "INPUT": "lines", "FIELD": "ELEV"}, "^PIXEL_SIZE is required for a vector input$")])
def test_a_bad_parameter_raises_the_run_s_words_and_writes_nothing(qgis, lines, raster, tmp_path, params, words):
    from qgis.core import QgsProcessingException
    params = {"INPUT": str(raster), "OUTPUT": str(tmp_path / "q.tif"), **params}
    params["INPUT"] = str(lines) if params["INPUT"] == "lines" else params["INPUT"]
    with pytest.raises(QgsProcessingException, match=words):
        qgis.run("tesk:contourstodem", params)
    assert list(tmp_path.iterdir()) == []


@pytest.fixture(scope="module")
def large(tmp_path_factory):  # 4096 x 4096 sloping contour lines, every 23rd diagonal
    i, j = np.indices((4096, 4096))
    src = tmp_path_factory.mktemp("large") / "src.tif"
    ds = gdal.GetDriverByName("GTiff").Create(str(src), 4096, 4096, 1, gdal.GDT_UInt16)
    ds.GetRasterBand(1).WriteArray(np.where((i + j // 7) % 23 == 0, (i + j // 7) * 3, 65500).astype(np.uint16))
    ds.GetRasterBand(1).SetNoDataValue(65500)
    return src


@pytest.mark.parametrize("at", [33, 97])  # computing; drawing the hillshade
def test_cancel_stops_the_run_within_a_second_and_leaves_nothing(qgis, large, tmp_path, at):
    from qgis.core import QgsProcessingException, QgsProcessingFeedback
    feedback, canceled = QgsProcessingFeedback(), []

    def cancel(percent):
        if percent >= at and not canceled:
            canceled.append(time.monotonic())
            feedback.cancel()
    feedback.progressChanged.connect(cancel)
    with pytest.raises(QgsProcessingException, match="Canceled"):
        qgis.run("tesk:contourstodem", {"INPUT": str(large), "INTERVAL": 10, "WINDOW": 3,
                                        "OUTPUT": str(tmp_path / "dem.tif"), "HILLSHADE": str(tmp_path / "h.png")},
                 feedback=feedback)
    assert canceled and time.monotonic() - canceled[0] < 1 and list(tmp_path.iterdir()) == []


def test_warnings_go_to_the_feedback_on_every_run(qgis, raster, tmp_path):
    from qgis.core import QgsProcessingFeedback
    warned = []
    feedback = QgsProcessingFeedback()
    feedback.pushWarning = warned.append
    for _ in range(2):
        qgis.run("tesk:contourstodem", {"INPUT": str(raster), "INTERVAL": 30, "OUTPUT": str(tmp_path / "q.tif")},
                 feedback=feedback)
    assert len(warned) == 2 and "not multiples of Contour interval 30" in warned[1]


def test_the_loaded_dem_has_the_crs_of_the_input_layer_when_its_file_has_none(qgis, raster, tmp_path):
    from qgis.core import QgsCoordinateReferenceSystem, QgsProject, QgsRasterLayer
    gdal.Translate(str(tmp_path / "c.tif"), str(raster)).SetProjection("")
    layer = QgsRasterLayer(str(tmp_path / "c.tif"), "c")
    layer.setCrs(QgsCoordinateReferenceSystem("EPSG:32616"))
    qgis.runAndLoadResults("tesk:contourstodem", {"INPUT": layer, "INTERVAL": 20, "OUTPUT": str(tmp_path / "q.tif")})
    assert [d.crs().authid() for d in QgsProject.instance().mapLayersByName("DEM")] == ["EPSG:32616"]


def test_zip_holds_the_plugin_and_says_to_install_tesk_first(tmp_path):
    zip_command = [sys.executable, "-m", "tesk.qgis", "zip", "-o", str(tmp_path / "p.zip")]
    subprocess.run(zip_command, check=True)
    assert subprocess.run(zip_command, capture_output=True).returncode != 0  # no --overwrite
    with zipfile.ZipFile(tmp_path / "p.zip") as z:
        metadata, readme = (z.read(f"tesk_processing/{n}").decode() for n in ("metadata.txt", "README.txt"))
        names = ("__init__.py", "icon.svg", "metadata.txt", "README.txt")  # the code stays in the package
        assert {f"tesk_processing/{n}" for n in names} == set(z.namelist())
        assert "from tesk.qgis import classFactory" in z.read("tesk_processing/__init__.py").decode()
    assert f"\nversion={tesk.__version__}\n" in metadata and "\nhasProcessingProvider=yes\n" in metadata
    assert "Install the tesk Python package first" in readme
