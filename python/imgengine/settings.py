"""The settings of the configuration record and the host settings store as typed
properties, made from the generated settings table.

A change reaches the imager with Imager.apply(); reading answers what the host copy
holds (what the imager held at connect or at the last Imager.refresh(), and the
changes since)."""
from .errors import HostSettingsError
from .library import library, table

INT_MIN, INT_MAX = -(1 << 31), (1 << 31) - 1


def _checked_value(entry, value):
    if entry["type"] == "bool":
        if not isinstance(value, bool):
            raise TypeError("%s takes True or False, not %r" % (entry["name"], value))
        return int(value)
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s takes an int, not %r" % (entry["name"], value))
    if not INT_MIN <= value <= INT_MAX:
        raise ValueError("%s: %d does not fit an int" % (entry["name"], value))
    return value


def _property(entry):
    getter, setter, kind = entry["getter"], entry["setter"], entry["kind"]
    as_type = bool if entry["type"] == "bool" else int

    def get(self):
        with self._lib.settings_lock:
            return as_type(self._lib.call(getter))

    def set_(self, value):
        value = _checked_value(entry, value)
        lib = self._lib
        with lib.settings_lock:
            if kind == "selector" and not value:
                raise ValueError("%s is one of several modes: select another mode instead" % entry["name"])
            before = lib.call(getter)
            result = lib.call(setter, value)
            if kind == "host" and result != 0:
                raise HostSettingsError("the host settings store could not be written", result)
            # A plain value is stored cut to its field: a value that did not survive is refused.
            if kind == "value" and lib.call(getter) != value:
                lib.call(setter, before)
                raise ValueError("%s: %d is out of the setting's range" % (entry["name"], value))

    doc = "%s (%s, %s): %s / %s" % (entry["name"], entry["type"], kind, getter, setter)
    return property(get, set_, doc=doc)


class Settings:
    """Every setting as a property; names lists them, as_dict() reads them all."""

    __slots__ = ("_lib",)
    _table = table("settings")
    names = tuple(entry["name"] for entry in _table)

    def __init__(self, lib=None):
        self._lib = lib or library()

    def as_dict(self):
        return {name: getattr(self, name) for name in self.names}

    def update(self, **values):
        for name, value in values.items():
            if name not in self.names:
                raise AttributeError("no setting named %r" % name)
            setattr(self, name, value)

    def __repr__(self):
        return "Settings(%s)" % ", ".join("%s=%r" % item for item in self.as_dict().items())


for _entry in Settings._table:
    setattr(Settings, _entry["name"], _property(_entry))
