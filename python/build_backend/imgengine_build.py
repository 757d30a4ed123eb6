"""The package's build backend: wheels and source archives from the standard library alone.

pip and `python -m build` call it (PEP 517) with whatever interpreter installs the
package, so an offline install needs neither setuptools nor wheel in that interpreter.

A wheel carries the package and its tables. Given a built library (the config setting
`library=PATH`, or the environment variable IMGENGINE_WHEEL_LIBRARY), it carries that
too, next to the package's __init__.py where the package looks first, and is tagged for
this platform instead of for any.
"""
import base64
import hashlib
import io
import os
import re
import sysconfig
import tarfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PACKAGE = "imgengine"
# Entries get this time: the same sources give the same archive.
FIXED_TIME = (2020, 1, 1, 0, 0, 0)


def _project():
    """The [project] table of pyproject.toml."""
    try:
        import tomllib
    except ImportError:  # Python before 3.11
        try:
            import tomli as tomllib
        except ImportError:
            raise RuntimeError("building imgengine needs Python 3.11 or later, or the tomli package")
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]


def _metadata(project):
    lines = [
        "Metadata-Version: 2.1",
        "Name: " + project["name"],
        "Version: " + project["version"],
        "Summary: " + project.get("description", ""),
    ]
    if "requires-python" in project:
        lines.append("Requires-Python: " + project["requires-python"])
    lines += ["Requires-Dist: " + d for d in project.get("dependencies", [])]
    readme = project.get("readme")
    text = ""
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(ROOT, readme), encoding="utf-8") as f:
            text = f.read()
    return ("\n".join(lines) + "\n\n" + text).encode("utf-8")


def _package_files():
    """(path in the archive, path on disk) of the package's sources and tables."""
    files = []
    base = os.path.join(ROOT, PACKAGE)
    for folder, dirs, names in os.walk(base):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(names):
            if name.endswith(".py") or (os.path.basename(folder) == "_tables" and name.endswith(".json")):
                path = os.path.join(folder, name)
                files.append((os.path.relpath(path, ROOT).replace(os.sep, "/"), path))
    return files


def _library(config_settings):
    path = (config_settings or {}).get("library") or os.environ.get("IMGENGINE_WHEEL_LIBRARY")
    if not path:
        return None
    if not os.path.isfile(path):
        raise RuntimeError("the library to put into the wheel is not a file: %s" % path)
    return path


def _dist_info(project):
    return "%s-%s.dist-info" % (re.sub(r"[-.]+", "_", project["name"]), project["version"])


def _platform_tag():
    return re.sub(r"[-.]", "_", sysconfig.get_platform())


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def _write_wheel(wheel_directory, config_settings, editable_root=None):
    project = _project()
    library = None if editable_root else _library(config_settings)
    tag = "py3-none-" + _platform_tag() if library else "py3-none-any"
    name = "%s-%s-%s.whl" % (re.sub(r"[-.]+", "_", project["name"]), project["version"], tag)
    dist_info = _dist_info(project)
    entries = []
    if editable_root:
        entries.append((PACKAGE + ".pth", (editable_root + "\n").encode("utf-8")))
    else:
        for arcname, path in _package_files():
            with open(path, "rb") as f:
                entries.append((arcname, f.read()))
    if library:
        with open(library, "rb") as f:
            entries.append((PACKAGE + "/libImgEngine.so", f.read()))
    wheel = "Wheel-Version: 1.0\nGenerator: imgengine_build\nRoot-Is-Purelib: %s\nTag: %s\n" % (
        "false" if library else "true", tag)
    entries += [(dist_info + "/METADATA", _metadata(project)), (dist_info + "/WHEEL", wheel.encode("ascii"))]
    record = [_record_line(n, d) for n, d in entries] + [dist_info + "/RECORD,,"]
    entries.append((dist_info + "/RECORD", ("\n".join(record) + "\n").encode("utf-8")))
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as z:
        for arcname, data in entries:
            info = zipfile.ZipInfo(arcname, FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            # The library must stay executable once unpacked; everything else is plain data.
            info.external_attr = (0o755 if arcname.endswith(".so") else 0o644) << 16
            z.writestr(info, data)
    return name


# ---- PEP 517 and PEP 660 hooks ----

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _project()
    target = os.path.join(metadata_directory, _dist_info(project))
    os.makedirs(target, exist_ok=True)
    with open(os.path.join(target, "METADATA"), "wb") as f:
        f.write(_metadata(project))
    return os.path.basename(target)


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, config_settings)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """A wheel that puts the source folder on the path (pip install -e)."""
    return _write_wheel(wheel_directory, config_settings, editable_root=ROOT)


def build_sdist(sdist_directory, config_settings=None):
    project = _project()
    base = "%s-%s" % (re.sub(r"[-.]+", "_", project["name"]), project["version"])
    name = base + ".tar.gz"
    files = [("pyproject.toml", os.path.join(ROOT, "pyproject.toml")),
             ("build_backend/imgengine_build.py", os.path.abspath(__file__))]
    if project.get("readme"):
        files.append((project["readme"], os.path.join(ROOT, project["readme"])))
    files += _package_files()
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz", format=tarfile.PAX_FORMAT) as tar:
        def add(arcname, data):
            info = tarfile.TarInfo(base + "/" + arcname)
            info.size = len(data)
            info.mode = 0o644
            tar.addfile(info, io.BytesIO(data))
        for arcname, path in files:
            with open(path, "rb") as f:
                add(arcname, f.read())
        add("PKG-INFO", _metadata(project))
    return name
