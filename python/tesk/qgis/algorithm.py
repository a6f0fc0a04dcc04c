"""The algorithm tesk:contourstodem, "Contours to DEM": the command line's run as a Processing algorithm.

Its parameters are the command line's options, declared as data with the option each one stands for in
its help.  Layers reach the run as files, through QGIS's own helpers: a raster as its layer's source, a
vector as a file OGR reads and a layer name (a memory or filtered layer is written to a temporary file
first).  The run is ``tesk.run`` in this process: its progress goes to the feedback, the feedback's cancel
stops it, and its errors become QgsProcessingException with the command line's words.
"""
import contextlib
import os
import threading
import warnings

from qgis.core import (QgsMapLayerType, QgsProcessing, QgsProcessingAlgorithm, QgsProcessingException,
                       QgsProcessingLayerPostProcessorInterface, QgsProcessingParameterBand,
                       QgsProcessingParameterBoolean, QgsProcessingParameterDefinition, QgsProcessingParameterEnum,
                       QgsProcessingParameterExtent, QgsProcessingParameterFileDestination,
                       QgsProcessingParameterMapLayer, QgsProcessingParameterNumber,
                       QgsProcessingParameterRasterDestination, QgsProcessingParameterString, QgsVectorFileWriter)
from qgis.PyQt.QtCore import QCoreApplication

# The methods of --method, the command line's default first.
METHODS = ["classic", "spline"]
# The output types of -ot, in the order of GDAL's own algorithms; Float32 is the command line's default.
TYPES = ["Byte", "Int16", "UInt16", "UInt32", "Int32", "Float32", "Float64"]
DEFAULT_TYPE = TYPES.index("Float32")
ICON = os.path.join(os.path.dirname(__file__), "icon.svg")

HELP = "\n\n".join([
    "Turns contour lines into a digital elevation model (DEM), with the values the command line <code>tesk SRC DST "
    "-i INTERVAL</code> writes for the same options. The classic method grows the contour values outward pass "
    "after pass, draws a new line halfway in value wherever two grown values meet, fills the holes left by "
    "averaging, optionally smooths the surface and lays the contours back on top. The spline fits a smooth "
    "surface (a thin plate) to the contour pixels: closer to the real terrain, without terraces.",
    "The input is a raster whose no-data value marks the pixels off the contours, or a vector layer of contour "
    "lines or spot heights with their altitude in a field, burnt onto a grid as gdal_rasterize would.",
    "Each parameter's help names the option of the command line it stands for; <code>tesk --help</code> and "
    "<code>man tesk</code> say more."])


# The parameter of each option of the run, by tesk.run's name of it.
_PARAMETERS = {"interval": "INTERVAL", "window": "WINDOW", "overlay": "OVERLAY", "nodata": "NODATA", "band": "BAND",
               "attribute": "FIELD", "pixel_size": "PIXEL_SIZE", "extent": "EXTENT", "mask": "MASK",
               "output_type": "OUTPUT_TYPE", "preview": "PREVIEW", "hillshade": "HILLSHADE", "tile_size": "TILE_SIZE",
               "halo": "HALO", "accept_uncertain": "ACCEPT_UNCERTAIN", "method": "METHOD", "smoothing": "SMOOTHING",
               "tension": "TENSION"}


def _tr(text):
    return QCoreApplication.translate("ContoursToDem", text)


class ContoursToDem(QgsProcessingAlgorithm):
    INPUT, BAND, FIELD, INTERVAL, WINDOW, OVERLAY = "INPUT", "BAND", "FIELD", "INTERVAL", "WINDOW", "OVERLAY"
    NODATA, PIXEL_SIZE, EXTENT, MASK, OUTPUT_TYPE = "NODATA", "PIXEL_SIZE", "EXTENT", "MASK", "OUTPUT_TYPE"
    TILE_SIZE, HALO, ACCEPT_UNCERTAIN = "TILE_SIZE", "HALO", "ACCEPT_UNCERTAIN"
    METHOD, SMOOTHING, TENSION, SPLINE_OVERLAY = "METHOD", "SMOOTHING", "TENSION", "SPLINE_OVERLAY"
    OUTPUT, PREVIEW, HILLSHADE = "OUTPUT", "PREVIEW", "HILLSHADE"

    def createInstance(self):  # noqa: N802 - QGIS's names throughout
        return ContoursToDem()

    def name(self):
        return "contourstodem"

    def displayName(self):  # noqa: N802
        return _tr("Contours to DEM")

    def shortDescription(self):  # noqa: N802
        return _tr("A digital elevation model from contour lines, exact to the bit")

    def tags(self):
        return _tr("dem,contour,contours,elevation,interpolation,surface,terrain,brakvelt").split(",")

    def shortHelpString(self):  # noqa: N802
        return _tr(HELP)

    def icon(self):
        from qgis.PyQt.QtGui import QIcon
        return QIcon(ICON)

    def svgIconPath(self):  # noqa: N802
        return ICON

    def initAlgorithm(self, config=None):  # noqa: N802
        def add(param, help_text, advanced=False):
            param.setHelp(_tr(help_text))
            if advanced:
                param.setFlags(param.flags() | QgsProcessingParameterDefinition.FlagAdvanced)
            self.addParameter(param)

        add(QgsProcessingParameterMapLayer(
            self.INPUT, _tr("Contours (raster, or vector lines or points)"),
            types=[QgsProcessing.TypeRaster, QgsProcessing.TypeVectorLine, QgsProcessing.TypeVectorPoint]),
            "SRC: a raster whose no-data value marks the pixels off the contours, or contour lines or spot "
            "heights.")
        add(QgsProcessingParameterBand(self.BAND, _tr("Band"), 1, self.INPUT, optional=True),
            "-b: the band of a raster input (default 1).")
        # A name, not a field parameter: with INPUT as its parent, QGIS 3.22's field widget crashes QGIS when
        # INPUT holds a raster, and without a parent it offers no field at all.
        add(QgsProcessingParameterString(self.FIELD, _tr("Altitude field (vector input)"), optional=True),
            "-a: the name of the field of a vector input that holds the altitude; features whose value is NULL or "
            "not a number are left out, with a warning.")
        add(QgsProcessingParameterNumber(self.INTERVAL, _tr("Contour interval"), QgsProcessingParameterNumber.Integer),
            "-i: the contour interval, a whole number in the altitude units of the input (not 0).")
        add(QgsProcessingParameterEnum(self.METHOD, _tr("Method"), METHODS, defaultValue=0),
            "--method: classic grows the contours outward and writes halfway lines where they meet, exact to the "
            "bit; spline fits a thin plate to the contour pixels, smooth and closer to the terrain.")
        add(QgsProcessingParameterNumber(self.WINDOW, _tr("Smoothing window (classic)"),
                                         QgsProcessingParameterNumber.Integer, 1, minValue=1, maxValue=33),
            "-m: 1 does not smooth; any larger m smooths with a Bernstein window of m+1 by m+1 pixels. Classic "
            "method only.")
        add(QgsProcessingParameterBoolean(self.OVERLAY, _tr("Lay the contours back over the result (classic)"), True),
            "Unchecked: --no-overlay, the smoothed values stay on the contour pixels. Classic method only.")
        add(QgsProcessingParameterNumber(self.SMOOTHING, _tr("Smoothing of the spline"),
                                         QgsProcessingParameterNumber.Double, optional=True, minValue=1e-6,
                                         maxValue=1e6),
            "--smoothing: the weight of the curvature against the fit to the contours, in pixel units, 1e-6 to 1e6; "
            "unset, chosen from the contours by cross-validation. Spline only.", advanced=True)
        add(QgsProcessingParameterNumber(self.TENSION, _tr("Tension of the spline"),
                                         QgsProcessingParameterNumber.Double, optional=True, minValue=0,
                                         maxValue=0.999),
            "--tension: the share of the penalty on the slope rather than the curvature, 0 (a thin plate) to 1 "
            "excluded (a membrane); unset, chosen with the smoothing (0 or 0.1), or 0 when the smoothing is given. "
            "Spline only.", advanced=True)
        add(QgsProcessingParameterBoolean(self.SPLINE_OVERLAY, _tr("Lay the contours back over the spline"), False),
            "Checked: --overlay; by default the fitted values stay on the contour pixels, closer to the terrain "
            "than the contours' levels. Spline only.", advanced=True)
        add(QgsProcessingParameterNumber(self.NODATA, _tr("No-data value of the input"),
                                         QgsProcessingParameterNumber.Double, optional=True),
            "--nodata: the value of the pixels off the contours, in place of the raster's own.")
        add(QgsProcessingParameterNumber(self.PIXEL_SIZE, _tr("Pixel size (vector input)"),
                                         QgsProcessingParameterNumber.Double, optional=True, minValue=0),
            "-tr SIZE SIZE: the size of the square pixels a vector input is burnt onto, in its CRS's units; "
            "required for a vector input.")
        add(QgsProcessingParameterExtent(self.EXTENT, _tr("Extent (vector input)"), optional=True),
            "-te: the extent of the grid of a vector input; unset, the layer's extent widened by half a pixel "
            "on every side, as gdal_rasterize does.", advanced=True)
        add(QgsProcessingParameterMapLayer(self.MASK, _tr("Area of interest"), optional=True,
                                           types=[QgsProcessing.TypeRaster, QgsProcessing.TypeVectorPolygon]),
            "--mask: a raster (its valid, non-zero pixels) or polygons; outside it the DEM and the hillshade "
            "are no-data, the preview 0.")
        add(QgsProcessingParameterEnum(self.OUTPUT_TYPE, _tr("Output data type"), TYPES, defaultValue=DEFAULT_TYPE),
            "-ot: Float32 (the default) or Float64 at full resolution (1/512 of the interval); an integer type "
            "in whole units, refused when it cannot hold the result.", advanced=True)
        add(QgsProcessingParameterNumber(self.TILE_SIZE, _tr("Tile size"), QgsProcessingParameterNumber.Integer,
                                         optional=True, minValue=64),
            "--tile-size: run by tiles of this many pixels a side, to bound the memory; unset, a raster too large for "
            "the memory runs by tiles by itself. The result is the same.", advanced=True)
        add(QgsProcessingParameterNumber(self.HALO, _tr("First halo of the tiles"), QgsProcessingParameterNumber.Integer,
                                         optional=True, minValue=0),
            "--halo: by tiles, the pixels computed around each tile at first (unset: estimated from the contours); "
            "doubled for a tile that needs more.", advanced=True)
        add(QgsProcessingParameterBoolean(self.ACCEPT_UNCERTAIN, _tr("Keep pixels no tile can prove"), False),
            "--accept-uncertain: by tiles, keep the pixels that no halo the memory allows proves equal to a whole "
            "run's as their tile computes them (the log says where), instead of failing.", advanced=True)
        add(QgsProcessingParameterRasterDestination(self.OUTPUT, _tr("DEM")),
            "DST: the DEM, with the input's grid, georeferencing and no-data value; the format comes from the "
            "extension.")
        add(QgsProcessingParameterFileDestination(self.PREVIEW, _tr("Preview"), _tr("PNG files (*.png)"),
                                                  optional=True, createByDefault=False),
            "--preview: the 8-bit preview, the DEM stretched from its minimum (black) to its maximum (white).")
        add(QgsProcessingParameterFileDestination(self.HILLSHADE, _tr("Hillshade"), _tr("PNG files (*.png)"),
                                                  optional=True, createByDefault=False),
            "--hillshade: a shaded relief of the DEM, as gdaldem hillshade draws it.")

    def _words(self, key, form, value):
        """How the run's messages name an option: by the label of its parameter here (tesk.run's name for
        those that have none), with its value; form is "n" (the option), "l" (the same), "v" (with a value) or
        "u" (with the kind of value it takes)."""
        if key == "layer":  # no parameter: the layer is named in the input's source
            return _tr("the input's layer (add |layername=NAME to its file)")
        name = _PARAMETERS.get(key)
        parameter = self.parameterDefinition(name) if name else None
        label = parameter.description() if parameter else key
        if isinstance(parameter, QgsProcessingParameterBoolean):
            checked = value == "True" if form == "v" and value else key != "overlay"
            return f"{label} ({_tr('checked') if checked else _tr('unchecked')})"
        return f"{label} {value}" if form == "v" and value else label

    def _whole(self, parameters, name, context):
        """An integer parameter as given: QGIS would round 19.6 to 20 without a word, where the command line
        refuses it."""
        value = self.parameterAsDouble(parameters, name, context)
        if value != round(value):
            raise QgsProcessingException(_tr("{} must be a whole number, not {}").format(
                self.parameterDefinition(name).description(), value))
        return int(value)

    def _given(self, parameters, name):  # the GUI gives NULL or "" for a parameter left empty
        return parameters.get(name) not in (None, "")  # NULL == None

    def _vector_path(self, parameters, name, context, feedback, multi_layer):
        formats = QgsVectorFileWriter.supportedFormatExtensions()
        if multi_layer:
            return self.parameterAsCompatibleSourceLayerPathAndLayerName(parameters, name, context, formats, "gpkg",
                                                                          feedback)
        return self.parameterAsCompatibleSourceLayerPath(parameters, name, context, formats, "gpkg", feedback), ""

    def processAlgorithm(self, parameters, context, feedback):  # noqa: N802
        try:
            import tesk
        except ImportError as e:
            raise QgsProcessingException(_tr(
                "The tesk Python package is not where QGIS's Python imports from ({}): install it with "
                "cmake --install, or with pip and --break-system-packages").format(e))
        layer = self.parameterAsLayer(parameters, self.INPUT, context)
        if layer is None:
            raise QgsProcessingException(self.invalidSourceError(parameters, self.INPUT))
        method = METHODS[self.parameterAsEnum(parameters, self.METHOD, context)]
        options = dict(interval=self._whole(parameters, self.INTERVAL, context), overwrite=True)
        if method == "classic":
            options.update(window=self._whole(parameters, self.WINDOW, context),
                           overlay=self.parameterAsBoolean(parameters, self.OVERLAY, context))
        else:
            options.update(method=method, overlay=self.parameterAsBoolean(parameters, self.SPLINE_OVERLAY, context))
            if self._given(parameters, self.TENSION):
                options["tension"] = self.parameterAsDouble(parameters, self.TENSION, context)
            if self._given(parameters, self.SMOOTHING):
                options["smoothing"] = self.parameterAsDouble(parameters, self.SMOOTHING, context)
        if layer.type() == QgsMapLayerType.RasterLayer:
            src = self.parameterAsRasterLayer(parameters, self.INPUT, context).source()
            if self._given(parameters, self.BAND):
                options["band"] = self._whole(parameters, self.BAND, context)
        else:
            src, name = self._vector_path(parameters, self.INPUT, context, feedback, True)
            options["layer"] = name or None
            for name in (self.FIELD, self.PIXEL_SIZE):
                if not self._given(parameters, name):
                    raise QgsProcessingException(_tr("{} is required for a vector input").format(name))
        # Given for a raster input, these reach the run, which refuses them in the command line's words.
        if self._given(parameters, self.FIELD):
            options["attribute"] = self.parameterAsString(parameters, self.FIELD, context)
        if self._given(parameters, self.PIXEL_SIZE):
            size = self.parameterAsDouble(parameters, self.PIXEL_SIZE, context)
            options["pixel_size"] = (size, size)
        if self._given(parameters, self.EXTENT):
            e = self.parameterAsExtent(parameters, self.EXTENT, context, layer.crs())
            options["extent"] = (e.xMinimum(), e.yMinimum(), e.xMaximum(), e.yMaximum())
        if self._given(parameters, self.NODATA):
            options["nodata"] = self.parameterAsDouble(parameters, self.NODATA, context)
        mask = self.parameterAsLayer(parameters, self.MASK, context)
        if mask is not None:
            options["mask"] = (mask.source() if mask.type() == QgsMapLayerType.RasterLayer else
                               self._vector_path(parameters, self.MASK, context, feedback, False)[0])
        for name, option in ((self.TILE_SIZE, "tile_size"), (self.HALO, "halo")):
            if self._given(parameters, name):
                options[option] = self._whole(parameters, name, context)
        if self.parameterAsBoolean(parameters, self.ACCEPT_UNCERTAIN, context):
            options["accept_uncertain"] = True
        output_type = self.parameterAsEnum(parameters, self.OUTPUT_TYPE, context)
        if output_type != DEFAULT_TYPE:
            options["output_type"] = TYPES[output_type]
        dst = self.parameterAsOutputLayer(parameters, self.OUTPUT, context)
        results = {self.OUTPUT: dst}
        for name, option in ((self.PREVIEW, "preview"), (self.HILLSHADE, "hillshade")):
            path = self.parameterAsFileOutput(parameters, name, context)
            if path:
                options[option] = results[name] = path

        def progress(fraction):  # the run stops on the exception, removing its temporary files
            if feedback.isCanceled():
                raise _Canceled
            feedback.setProgress(100 * fraction)

        feedback.pushCommandInfo(tesk._command_line(src, dst, **options))
        try:
            with _warnings_to(feedback):
                tesk._run(src, dst, self._words, progress, **options)
        except _Canceled:
            raise QgsProcessingException(_tr("Canceled: no output was written")) from None
        except (ValueError, TypeError, OSError, MemoryError) as e:
            raise QgsProcessingException(str(e)) from e
        if context.willLoadLayerOnCompletion(dst):  # run from the GUI: the DEM is loaded into the project
            context.layerToLoadOnCompletionDetails(dst).setPostProcessor(_SourceCrs.create(layer.crs()))
        return results


class _SourceCrs(QgsProcessingLayerPostProcessorInterface):
    """Gives the loaded DEM the input layer's CRS when its file holds none (a classic source, or a CRS set
    in QGIS only)."""
    instance = None  # QGIS does not own the object: it lives here until the next run's replaces it

    def __init__(self, crs):
        super().__init__()
        self.crs = crs

    def postProcessLayer(self, layer, context, feedback):  # noqa: N802
        if not layer.crs().isValid() and self.crs.isValid():
            layer.setCrs(self.crs)

    @staticmethod
    def create(crs):
        _SourceCrs.instance = _SourceCrs(crs)
        return _SourceCrs.instance


class _Canceled(Exception):
    pass


# The run gives its warnings (the command line's "Warning: ..." lines) as UserWarning on the thread that
# runs it.  While it runs, those of that thread go to its feedback, each time they come (not once per place,
# Python's default); every other warning goes where it went before.
_feedbacks = {}
_show_elsewhere = None


def _show(message, category, filename, lineno, file=None, line=None):
    feedback = _feedbacks.get(threading.get_ident())
    if feedback is not None and issubclass(category, UserWarning):
        feedback.pushWarning(str(message))
    else:
        _show_elsewhere(message, category, filename, lineno, file, line)


@contextlib.contextmanager
def _warnings_to(feedback):
    global _show_elsewhere
    if warnings.showwarning is not _show:
        _show_elsewhere, warnings.showwarning = warnings.showwarning, _show
        warnings.filterwarnings("always", category=UserWarning, module=r"tesk(_processing)?(\.|$)")
    _feedbacks[threading.get_ident()] = feedback
    try:
        yield
    finally:
        del _feedbacks[threading.get_ident()]
