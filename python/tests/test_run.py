"""tesk.run against the command line (TESK_EXE): the same files from the same options, errors, interrupts."""
import os
import pathlib
import subprocess

import numpy as np
import pytest
from osgeo import gdal

import tesk

ROOT = pathlib.Path(os.environ.get("TESK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
DEMO = ROOT / "images" / "demo"
gdal.UseExceptions()


def described(path):  # what a raster holds, but for the command recorded in it
    ds = gdal.Open(str(path))
    band = ds.GetRasterBand(1)
    return (ds.ReadAsArray().tobytes(), ds.GetGeoTransform(), ds.GetProjection(), band.DataType,
            band.GetNoDataValue(), ds.GetMetadata("IMAGE_STRUCTURE"), band.GetBlockSize())


@pytest.fixture(scope="module")
def contours(tmp_path_factory):
    path = tmp_path_factory.mktemp("v") / "contours.gpkg"
    subprocess.run(["gdal_contour", "-q", "-a", "ELEV", "-i", "20", str(DEMO / "jacksboro_true.tif"), str(path)],
                   check=True)
    return path


@pytest.mark.parametrize("options, kwargs", [
    (["-i", "20", "-m", "3"], dict(interval=20, window=3)),
    (["-i", "20", "--no-overlay", "-ot", "UInt16", "-co", "COMPRESS=LZW", "--mask",
      str(DEMO / "jacksboro_valleys.geojson")],
     dict(interval=20, overlay=False, output_type="UInt16", creation_options={"COMPRESS": "LZW"},
          mask=DEMO / "jacksboro_valleys.geojson")),
    (["-i", "20", "-m", "3", "-a", "ELEV", "-tr", "90", "90"], dict(interval=20, window=3, attribute="ELEV",
                                                                    pixel_size=90)),
])
def test_run_writes_what_the_command_line_writes(tmp_path, contours, options, kwargs):
    src = contours if "attribute" in kwargs else DEMO / "jacksboro_i20_c.tif"
    pictures = ["--preview", str(tmp_path / "c.png"), "--hillshade", str(tmp_path / "c_hs.png")]
    subprocess.run([os.environ["TESK_EXE"], "-q", str(src), str(tmp_path / "c.tif"), *options, *pictures], check=True)
    seen = []
    stats = tesk.run(src, tmp_path / "p.tif", **kwargs, preview=tmp_path / "p.png", hillshade=tmp_path / "p_hs.png",
                     progress=seen.append)
    assert described(tmp_path / "p.tif") == described(tmp_path / "c.tif")
    for a, b in (("p.png", "c.png"), ("p_hs.png", "c_hs.png")):
        assert gdal.Open(str(tmp_path / a)).ReadAsArray().tobytes() == gdal.Open(str(tmp_path / b)).ReadAsArray().tobytes()
    command = gdal.Open(str(tmp_path / "p.tif")).GetMetadataItem("TESK_COMMAND_LINE")
    assert command.startswith(f"tesk {src} {tmp_path / 'p.tif'} -i 20") and "--preview" in command
    assert seen[0] == 0 and seen[-1] == 1 and seen == sorted(seen)
    assert stats.passes > 1 and 240 <= stats.minimum < stats.maximum <= 1060


def test_errors_in_the_parameters_words(tmp_path):
    src, dst = DEMO / "jacksboro_i20_c.tif", tmp_path / "d.tif"
    dst.write_bytes(b"old")
    cases = [
        (dict(interval=20), FileExistsError, f"{dst} already exists: add overwrite=True to replace it"),
        (dict(interval=0, overwrite=True), ValueError, "interval must not be 0"),
        (dict(interval=20, window=40, overwrite=True), ValueError, "window must lie between 1 and 33"),
        (dict(interval=20, nodata=0.5, overwrite=True), ValueError, "nodata=0.5: the samples of"),
        (dict(interval=20, output_type="Byte", overwrite=True), ValueError, "output_type=Byte cannot hold the result"),
        (dict(interval=20, attribute="ELEV", overwrite=True), ValueError, "attribute: "),
        (dict(interval=20, preview=f"{tmp_path}/p\0.png", overwrite=True), ValueError, "preview names a file with a null"),
        (dict(interval=20, overlay="no", overwrite=True), TypeError, "overlay='no': overlay must be True or False"),
        (dict(interval=20, hillshade_z="2", overwrite=True), TypeError, "hillshade_z='2': hillshade_z must be a number"),
    ]
    for kwargs, error, words in cases:
        with pytest.raises(error, match=words.replace(".", r"\.")):
            tesk.run(src, dst, **kwargs)
    with pytest.raises(OSError, match="does not exist"):
        tesk.run(tmp_path / "none.tif", dst, interval=20, overwrite=True)
    with pytest.raises(TypeError, match="src must be a path"):
        tesk.run(3, dst, interval=20)
    with pytest.raises(ValueError, match="the destination names a file with a null character"):
        tesk.run(src, f"{dst}\0.png", interval=20, overwrite=True)
    assert dst.read_bytes() == b"old"


def test_an_interrupt_while_writing_leaves_every_file_as_it_was(tmp_path):
    i, j = np.indices((2500, 2500))  # sloping contour lines, a slow write
    contours = np.where((i + j // 7) % 23 == 0, (i + j // 7) * 10, 65500).astype(np.uint16)
    gdal_array = gdal.GetDriverByName("GTiff").Create(str(tmp_path / "src.tif"), 2500, 2500, 1, gdal.GDT_UInt16)
    gdal_array.GetRasterBand(1).WriteArray(contours)
    gdal_array.GetRasterBand(1).SetNoDataValue(65500)
    gdal_array = None
    for name in ("d.tif", "p.png"):
        (tmp_path / name).write_bytes(b"old")
    seen = []

    def progress(f):
        seen.append(f)
        if f >= 0.9:
            raise KeyboardInterrupt
    with pytest.raises(KeyboardInterrupt):
        tesk.run(tmp_path / "src.tif", tmp_path / "d.tif", interval=10, output_type="Float64",
                 creation_options=["ZLEVEL=9"], preview=tmp_path / "p.png", overwrite=True, progress=progress)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["d.tif", "p.png", "src.tif"]
    assert all((tmp_path / n).read_bytes() == b"old" for n in ("d.tif", "p.png")) and seen[-1] < 1


@pytest.mark.parametrize("options, words", [
    (dict(interval=20), "-i 20"),
    (dict(interval=20, window=3, overlay=False, nodata=0.5, band=2, mask="m.tif", output_type="UInt16",
          creation_options={"A": 1, "B": "x y"}, preview="p.png", hillshade="h.png", hillshade_z=2, tile_size=512,
          halo=32, accept_uncertain=True, overwrite=True, threads=2),
     "-i 20 -m 3 --no-overlay --nodata 0.5 -b 2 --mask m.tif -ot UInt16 -co A=1 -co 'B=x y' --preview p.png "
     "--hillshade h.png --hillshade-z 2 --tile-size 512 --halo 32 --accept-uncertain --overwrite --threads 2"),
    (dict(interval=-5, attribute="ELEV", layer="c 20", pixel_size=90, size=(10, 20), extent=(0, 1, 2.5, 3),
          format="GTiff", method="classic", window=1, overlay=True, hillshade_z=1, threads=0),
     "-i -5 -a ELEV -l 'c 20' -tr 90 90 -ts 10 20 -te 0 1 2.5 3 -of GTiff"),
])
def test_the_equivalent_command_line_holds_every_option_given(options, words):
    assert tesk._command_line("s.tif", pathlib.Path("d.tif"), **options) == "tesk s.tif d.tif " + words
