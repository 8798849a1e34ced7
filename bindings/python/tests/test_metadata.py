"""What outputs keep of their input's metadata, read back by an independent
reader (Pillow): orientation, resolution and RGB colour profile, and no
other EXIF entry."""
import struct

import pytest
from PIL import Image

import velmora


def rgb_profile(size=3000):
    body = bytes((i * 7 + 3) & 255 for i in range(size))
    # size, a display class, RGB, the 'acsp' signature: a profile the library keeps
    return (struct.pack(">I", size) + body[4:12] + b"mntr" + b"RGB " + body[20:36] + b"acsp"
            + body[40:])


def camera_exif(orientation):
    exif = Image.Exif()
    exif[0x0112] = orientation
    exif[0x010F] = "SecretCam"          # camera make: never copied
    exif[0x011A] = 300.0
    exif[0x011B] = 300.0
    exif[0x0128] = 2
    return exif


@pytest.mark.parametrize("source", ["jpg", "png"])
@pytest.mark.parametrize("target", ["jpg", "png"])
@pytest.mark.parametrize("orientation", [1, 3, 6, 8])
def test_kept_as_an_independent_reader_sees_it(tmp_path, source, target, orientation):
    src = tmp_path / ("in." + source)
    out = tmp_path / ("out." + target)
    icc = rgb_profile()
    image = Image.new("RGB", (40, 30), (200, 120, 40))
    image.save(src, exif=camera_exif(orientation), icc_profile=icc, dpi=(300, 300))

    velmora.brightness(src, out, value=0)

    with Image.open(out) as result:
        assert result.info.get("icc_profile") == icc
        assert result.info["dpi"] == pytest.approx((300, 300), abs=0.01)
        exif = result.getexif()
        assert exif.get(0x0112, 1) == orientation
        assert 0x010F not in exif
        assert set(exif) <= {0x0112, 0x011A, 0x011B, 0x0128}


def test_nothing_is_added_to_a_file_without_metadata(tmp_path):
    src, out = tmp_path / "in.png", tmp_path / "out.jpg"
    Image.new("RGB", (8, 8), (1, 2, 3)).save(src)
    velmora.invert(src, out)
    with Image.open(out) as result:
        assert "icc_profile" not in result.info
        assert len(result.getexif()) == 0
