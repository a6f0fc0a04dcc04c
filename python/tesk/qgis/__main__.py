"""python3 -m tesk.qgis install [--profile-dir DIR] | zip [-o FILE] [--overwrite]

``install`` writes the plugin tesk_processing into a QGIS profile and enables it; the profile is the user's
default one, made if QGIS has never run, unless --profile-dir names another (the folder that holds
python/plugins).  ``zip`` packs the same plugin for QGIS's "Install from ZIP".

The plugin is a small folder (its metadata, its icon and a module that loads this package's tesk.qgis): the
algorithm's code stays in the installed tesk package, so that it loads under one name, tesk.qgis, and a new
version of the package is the plugin's new version.
"""
import argparse
import os
import pathlib
import re
import shutil
import sys
import tempfile
import zipfile

PLUGIN = "tesk_processing"
HERE = pathlib.Path(__file__).resolve().parent
FILES = ["metadata.txt", "icon.svg"]
# The plugin's module: QGIS imports it as tesk_processing, and it hands over to tesk.qgis.
LOADER = '''"""The QGIS plugin TESK: the Processing provider of the tesk package, loaded from tesk.qgis."""


def classFactory(iface):  # noqa: N802 - the name QGIS calls
    try:
        from tesk.qgis import classFactory as factory
    except ImportError as e:
        raise ImportError(f"The TESK plugin needs the tesk Python package where QGIS's Python imports from ({e}): "
                          "install it with cmake --install, or with pip and --break-system-packages") from e
    return factory(iface)
'''
README = """\
TESK for QGIS: the Processing provider TESK, with the algorithm "Contours to DEM" (tesk:contourstodem).

Install the tesk Python package first: the plugin needs its compiled computation, and QGIS's Python
(/usr/bin/python3 on Debian) must be able to import it.  From TESK's source, either

    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release && cmake --build build/release
    sudo cmake --install build/release

or, since Debian's Python refuses pip outside a virtual environment (PEP 668) and QGIS cannot see one,

    sudo /usr/bin/python3 -m pip install --break-system-packages --no-build-isolation .

Then, in QGIS: Plugins > Manage and Install Plugins > Install from ZIP, and choose this file.  The
algorithm is in the Processing toolbox under TESK > Contours to DEM.  With the package installed,
python3 -m tesk.qgis install does the same without QGIS.
"""


def default_profile():
    data = os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"), ".local", "share")
    return pathlib.Path(data, "QGIS", "QGIS3", "profiles", "default")


def write_whole(path, write):
    """Writes path whole: write(name) fills a temporary file beside it, which then replaces it, with the
    older file's permissions (or the umask's)."""
    try:
        fd, tmp = tempfile.mkstemp(dir=path.resolve().parent, prefix=f".{path.name}.")
    except OSError as e:
        raise OSError(f"cannot write {path}: {e.strerror}") from e
    os.close(fd)
    try:
        write(tmp)
        if path.exists():
            shutil.copymode(path, tmp)
        else:
            umask = os.umask(0)
            os.umask(umask)
            os.chmod(tmp, 0o666 & ~umask)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def enable(profile):
    """Sets PythonPlugins/tesk_processing=true in the profile's settings, keeping every other line."""
    ini = profile / "QGIS" / "QGIS3.ini"
    ini.parent.mkdir(parents=True, exist_ok=True)
    lines = ini.read_text(encoding="utf-8").splitlines() if ini.exists() else []
    entry = f"{PLUGIN}=true"
    try:
        start = lines.index("[PythonPlugins]") + 1
    except ValueError:
        lines += [""] * bool(lines) + ["[PythonPlugins]", entry]
    else:
        end = next((i for i in range(start, len(lines)) if lines[i].startswith("[")), len(lines))
        keep = [line for line in lines[start:end] if not re.match(rf"{PLUGIN}\s*=", line)]
        while keep and not keep[-1].strip():
            keep.pop()
        lines[start:end] = [entry] + keep + [""] * (end < len(lines))
    write_whole(ini, lambda tmp: pathlib.Path(tmp).write_text("\n".join(lines) + "\n", encoding="utf-8"))


def is_ours(path):
    metadata = path / "metadata.txt"
    if not metadata.is_file():
        return path.is_symlink() and not path.exists()  # a link left dangling by a removed package
    text = metadata.read_text(encoding="utf-8")
    return bool(re.search(r"^name=TESK$", text, re.M)) and "hasProcessingProvider=yes" in text


def remove(path):
    if path.is_symlink():
        path.unlink()
    elif path.exists():
        shutil.rmtree(path)


def write_plugin(folder):
    """The plugin's files into folder."""
    for name in FILES:
        shutil.copy2(HERE / name, folder / name)
    (folder / "__init__.py").write_text(LOADER, encoding="utf-8")


def install(profile):
    plugins = profile / "python" / "plugins"
    plugins.mkdir(parents=True, exist_ok=True)
    target = plugins / PLUGIN
    if (target.exists() or target.is_symlink()) and not is_ours(target):
        sys.exit(f"{target} exists and is not the TESK plugin: remove it first")
    new = pathlib.Path(tempfile.mkdtemp(dir=plugins, prefix=f".{PLUGIN}-"))
    try:
        write_plugin(new)
    except BaseException:
        remove(new)
        raise
    old = new.with_name(new.name + ".old")
    if target.exists() or target.is_symlink():
        os.rename(target, old)
    try:
        os.rename(new, target)
    except BaseException:
        if old.exists() or old.is_symlink():
            os.rename(old, target)
        remove(new)
        raise
    remove(old)
    enable(profile)
    print(f"Wrote the plugin {target}, which loads {HERE}, and enabled it; restart QGIS, then find "
          "TESK > Contours to DEM in the Processing toolbox")
    if sys.prefix != sys.base_prefix:
        print(f"Warning: this tesk comes from the virtual environment {sys.prefix}, which QGIS's Python does "
              "not see: install the package with cmake --install, or with /usr/bin/python3 -m pip install "
              "--break-system-packages", file=sys.stderr)


def make_zip(output, overwrite):
    if output.exists() and not overwrite:
        sys.exit(f"{output} exists: use --overwrite to replace it")

    def write(tmp):
        with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
            for name in FILES:
                z.write(HERE / name, f"{PLUGIN}/{name}")
            z.writestr(f"{PLUGIN}/__init__.py", LOADER)
            z.writestr(f"{PLUGIN}/README.txt", README)
    write_whole(output, write)
    print(f"Wrote {output}: install the tesk package first (README.txt inside says how), then use QGIS's "
          "Plugins > Manage and Install Plugins > Install from ZIP")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tesk.qgis", description=__doc__.split("\n\n")[1])
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("install", help="write the plugin into a QGIS profile and enable it")
    p.add_argument("--profile-dir", type=pathlib.Path, default=None,
                   help="the profile folder, the one that holds python/plugins (default: the default profile)")
    p = commands.add_parser("zip", help='make a zip for QGIS\'s "Install from ZIP"')
    p.add_argument("-o", "--output", type=pathlib.Path, default=pathlib.Path(f"{PLUGIN}.zip"))
    p.add_argument("--overwrite", action="store_true", help="replace an existing zip")
    args = parser.parse_args(argv)
    try:
        if args.command == "install":
            install(args.profile_dir or default_profile())
        else:
            make_zip(args.output, args.overwrite)
    except OSError as e:  # a folder that cannot be made or written, in one line
        sys.exit(f"{parser.prog} {args.command}: {e}")


if __name__ == "__main__":
    main()
