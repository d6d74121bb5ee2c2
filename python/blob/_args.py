"""Arguments of the package's public functions: each helper converts one argument or refuses it with
a short message naming it, TypeError for a wrong type and ValueError for a wrong value. Nothing here
prints an argument whole: arrays and long values are described, not shown."""

import itertools
import math
import numbers
import operator
import os

import numpy as np

INT32 = (-2**31, 2**31 - 1)


def show(value):
    """value for a message: an array by its shape and dtype, anything else by at most 40 characters
    of its repr."""
    if isinstance(value, np.ndarray):
        return f"an array of shape {value.shape} and dtype {value.dtype}"
    try:
        text = repr(value)
    except Exception:  # an int too long to print, or a repr that fails
        return f"a {type(value).__name__}"
    return text if len(text) <= 40 else text[:36] + " ..."


def _kind(value):
    return type(value).__name__


def integer(name, value, low, high):
    """value as an int in low..high; bools are refused."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an integer, not {_kind(value)}")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {_kind(value)}") from None
    if not low <= number <= high:
        raise ValueError(f"{name} must be an integer in {low}..{high}, not {show(number)}")
    return number


def byte(name, value):
    return integer(name, value, 0, 255)


def real(name, value, infinite=False):
    """value as a float: never NaN, and finite unless infinite is true; bools are refused."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {_kind(value)}")
    try:
        number = float(value)
    except OverflowError:
        raise ValueError(f"{name} must be a finite number, not {show(value)}") from None
    if math.isnan(number) or (math.isinf(number) and not infinite):
        raise ValueError(f"{name} must be a {'' if infinite else 'finite '}number, not {number}")
    return number


def flag(name, value):
    """value as a bool: True, False, numpy's bools, 1 and 0."""
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    if isinstance(value, (int, np.integer)) and value in (0, 1):
        return bool(value)
    raise TypeError(f"{name} must be True or False, not {show(value)}")


def text(name, value):
    """value as a str; anything else is refused."""
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {_kind(value)}")
    return value


def items(name, value, count):
    """The count items of a sequence (a tuple, a list, an array), read no further than count + 1."""
    if isinstance(value, (str, bytes)) or not hasattr(value, "__iter__"):
        raise TypeError(f"{name} must be a sequence of {count} values, not {_kind(value)}")
    got = tuple(itertools.islice(value, count + 1))
    if len(got) != count:
        raise ValueError(f"{name} must hold {count} values, not {len(got) if len(got) <= count else 'more'}")
    return got


def path(name, value):
    """value (str, bytes or os.PathLike) as the bytes of a file name, as open() would use them.
    A NUL byte, which would cut the name short, is refused."""
    try:
        name_ = os.fspath(value)
    except TypeError:
        raise TypeError(f"{name} must be a str, bytes or os.PathLike, not {_kind(value)}") from None
    if (b"\0" if isinstance(name_, bytes) else "\0") in name_:
        raise ValueError(f"{name} holds a NUL byte")
    try:
        return os.fsencode(name_)
    except UnicodeError:
        raise ValueError(f"{name} cannot be encoded as a file name: {show(name_)}") from None


def label(name, value):
    """value (str, bytes or os.PathLike) as UTF-8 bytes for a report. A str must be encodable (a
    lone surrogate is refused); bytes go as they are, the report replacing what is not UTF-8."""
    try:
        label_ = os.fspath(value)
    except TypeError:
        raise TypeError(f"{name} must be a str, bytes or os.PathLike, not {_kind(value)}") from None
    if isinstance(label_, bytes):
        encoded = label_
    else:
        try:
            encoded = label_.encode("utf-8")
        except UnicodeError:
            raise ValueError(f"{name} cannot be encoded as UTF-8: {show(label_)}") from None
    if b"\0" in encoded:
        raise ValueError(f"{name} holds a NUL byte")
    return encoded


def image(name, value):
    """value as a 2-D uint8 array. A numpy array is taken as it is (no copy); another array-like
    goes through numpy.asarray, and integers in 0..255 (a list of lists, say) become uint8."""
    given_array = isinstance(value, np.ndarray)
    if given_array:
        array = value
    elif value is None or isinstance(value, (str, bytes, numbers.Number, np.generic)):
        raise TypeError(f"{name} must be a 2-D array of uint8, not {_kind(value)}")
    else:
        try:
            array = np.asarray(value)
        except (TypeError, ValueError) as error:  # numpy's reason, at length, is the cause
            raise ValueError(f"{name} is no array numpy can make (a ragged list?)") from error
    if array.ndim != 2:
        if not given_array and array.ndim == 0:
            raise TypeError(f"{name} must be a 2-D array of uint8, not {_kind(value)}")
        raise ValueError(f"{name} must be a 2-D array, not {array.ndim}-D")
    if array.dtype == np.uint8:
        return array
    if not given_array and array.dtype.kind in "iu":
        if array.size and not (0 <= array.min() and array.max() <= 255):
            raise ValueError(f"{name} must hold values in 0..255, not {array.min()}..{array.max()}")
        return array.astype(np.uint8)
    raise TypeError(f"{name} must be an array of uint8, not {array.dtype}")
