# blob-analyze --html: the page's data against the JSON report, its limits, and the page at work in
# a real browser (headless chromium through selenium, skipped where they are not installed).
import base64
import json
import os
import re
import shutil
import struct
import subprocess

import numpy as np
import pytest
from conftest import random_image, write_pgm  # tests/python's

DATA = re.compile(r'<script type="application/json" class="data">(.*?)</script>', re.S)
SECTION = re.compile(r'<section class="image">(.*?)</section>', re.S)
PATH = re.compile(r'<path data-id="(\d+)" class="(blob|hole)" d="([^"]*)"')


def run(*args):
    return subprocess.run([os.environ["BLOB_ANALYZE"], *map(str, args)], capture_output=True, text=True)


def sections(page):
    return [(json.loads(DATA.search(s).group(1)), s) for s in SECTION.findall(page)]


def enclosed(d):  # the area an outline's path encloses (shoelace)
    x, y, twice = 0, 0, 0
    for step, number in re.findall(r"([MhvZ])(-?\d*)", d):
        if step == "M":
            x, y = int(number), int(re.match(r"M-?\d+ (-?\d+)", d).group(1))
        elif step in "hv":
            nx, ny = (x + int(number), y) if step == "h" else (x, y + int(number))
            twice += x * ny - nx * y
            x, y = nx, ny
    return abs(twice) // 2


def dots(width, height):  # single pels two apart: one blob each
    image = np.zeros((height, width), np.uint8)
    image[::2, ::2] = 200
    return image


def test_page_holds_each_image_as_the_json_report_does(tmp_path):
    files = [write_pgm(tmp_path / f"{k}.pgm", random_image(k)) for k in (3, 4)]
    (tmp_path / "bad<").mkdir()
    bad = tmp_path / "bad</script>.pgm"  # a name that would end a script element
    bad.write_bytes(b"P5\n4 4\n255\nxx")
    page = tmp_path / "page.html"
    args = ["--measures", "area,angle,perimeter", "--shown", "--sort", "perimeter:asc", files[0], bad, files[1]]
    result = run("--html", page, "--format", "json", *args)
    assert result.returncode == 1 and "bad</script>.pgm" in result.stderr
    report = json.loads(result.stdout)["images"]
    text = page.read_text()
    found = sections(text)
    assert len(found) == 3 and text.count("</script>") == 4  # three sections' data and the page's script
    for image, (data, section) in zip(report, found):
        assert data["file"] == image["file"]
        if "error" in image:
            assert data["error"] == image["error"] and "<path" not in section
            continue
        columns = data["columns"]
        assert [dict(zip(columns, row)) for row in data["rows"]] == image["blobs"]
        assert data["total"] == len(image["blobs"]) and (data["width"], data["height"]) == (64, 48)
        outlines = {int(i): (kind, enclosed(d)) for i, kind, d in PATH.findall(section)}
        assert {i: kind for i, (kind, _) in outlines.items()} == {
            b["id"]: "hole" if b["label"] == 0 else "blob" for b in image["blobs"]}
        # An outline encloses its region's pels and its children's outlines.
        for b in image["blobs"]:
            inside = sum(outlines[c["id"]][1] for c in image["blobs"] if c["parent"] == b["id"])
            assert outlines[b["id"]][1] == b["area"] + inside
    # Nothing is fetched: every address is data: and the one namespace.
    assert set(re.findall(r"https?://[^\"' ]*", text)) == {"http://www.w3.org/2000/svg"}
    assert all(a.startswith("data:") for a in re.findall(r'(?:src|href)="([^"]*)"', text))


def test_large_images_are_listed_in_part_and_shown_reduced(tmp_path):
    image = dots(5000, 20)  # 25,000 blobs; 5000 pels wide
    page = tmp_path / "page.html"
    assert run("--html", page, "--format", "csv", "--measures", "area", write_pgm(tmp_path / "d.pgm", image)).returncode == 0
    [(data, section)] = sections(page.read_text())
    assert data["total"] == 25000 and [row[0] for row in data["rows"]] == list(range(1, 20001))
    assert len(PATH.findall(section)) == 20000
    # Reduced by 3: 1667 embedded pels stretched over 5001 image pels, shown 1666 wide.
    svg = re.search(r'<svg class="figure"[^>]*width="(\d+)" height="(\d+)"><image href="data:image/png;base64,([^"]*)" '
                    r'width="(\d+)" height="(\d+)"', section)
    assert svg.group(1, 2, 4, 5) == ("1666", "6", "5001", "21")
    assert struct.unpack(">II", base64.b64decode(svg.group(3))[16:24]) == (1667, 7)


def test_page_is_written_whole_or_refused(tmp_path):
    image = write_pgm(tmp_path / "i.pgm", random_image(5))
    old = tmp_path / "old.html"
    old.write_text("kept")
    for args, status, message in [
            (["--html", tmp_path / "no" / "p.html"], 1, "p.html"),
            (["--html", tmp_path / "p.png"], 2, "ending in .html or .htm"),
            (["--html", old, "--output", old], 2, "name the same file"),
            (["--html", old, "--threshold", "300"], 2, "--threshold")]:
        result = run(*args, image)
        assert (result.returncode, message in result.stderr) == (status, True), (args, result.stderr)
    assert old.read_text() == "kept" and sorted(p.name for p in tmp_path.iterdir()) == ["i.pgm", "old.html"]


def browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        return None
    driver, chromium = shutil.which("chromedriver"), shutil.which("chromium")
    if driver is None or chromium is None:
        return None
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,1000"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service(driver), options=options)


def test_page_works_in_a_browser(tmp_path):
    driver = browser()
    if driver is None:
        pytest.skip("chromium, chromedriver or python3-selenium not installed: "
                    "python/install_packages.sh --browser installs them (as root)")
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    try:
        page = tmp_path / "page.html"
        grid = write_pgm(tmp_path / "grid.pgm", dots(60, 40))  # 600 blobs: two table pages
        result = run("--html", page, "--format", "json", "--measures", "area,perimeter", "--", grid)
        assert result.returncode == 0, result.stderr
        run("--html", tmp_path / "demo.html", "--measures", "area,perimeter")
        driver.get(page.as_uri())
        assert driver.get_log("browser") == []
        section = driver.find_element(By.CSS_SELECTOR, "section.image")
        body_ids = lambda: [int(tr.get_attribute("data-id")) for tr in section.find_elements(By.CSS_SELECTOR, "tbody tr")]
        count = lambda: section.find_element(By.CLASS_NAME, "count").text
        # A section is set up once it comes into view, which may be after the load event.
        set_up = lambda: WebDriverWait(driver, 10).until(lambda _: section.find_elements(By.CLASS_NAME, "count"))
        set_up()
        assert body_ids() == list(range(1, 501)) and count() == "600 of 600 rows"
        assert section.find_element(By.CLASS_NAME, "page").text == "page 1 of 2"

        # Pointing at an outline whose row is on the second page turns to it and lights both.
        path = section.find_element(By.CSS_SELECTOR, 'path[data-id="550"]')
        ActionChains(driver).move_to_element(path).perform()
        assert section.find_element(By.CLASS_NAME, "page").text == "page 2 of 2"
        lit_row = section.find_element(By.CSS_SELECTOR, "tr.hl")
        assert lit_row.get_attribute("data-id") == "550" and "hl" in path.get_attribute("class")

        # The demo image: sort, filter, point at a row, histogram.
        blobs = json.loads(run("--format", "json", "--measures", "area,perimeter").stdout)["images"][0]["blobs"]
        driver.get((tmp_path / "demo.html").as_uri())
        section = driver.find_element(By.CSS_SELECTOR, "section.image")
        set_up()
        header = section.find_element(By.CSS_SELECTOR, 'th[data-column="5"]')  # perimeter
        header.click()
        assert body_ids() == [b["id"] for b in sorted(blobs, key=lambda b: (b["perimeter"], b["id"]))]
        header.click()
        assert body_ids() == [b["id"] for b in sorted(blobs, key=lambda b: (-b["perimeter"], b["id"]))]
        section.find_element(By.CLASS_NAME, "low").send_keys("500")
        kept = [b for b in blobs if b["area"] >= 500]
        assert count() == f"{len(kept)} of {len(blobs)} rows"
        assert body_ids() == [b["id"] for b in sorted(kept, key=lambda b: (-b["perimeter"], b["id"]))]
        bars = [int(t.get_attribute("textContent").split()[0])
                for t in section.find_elements(By.CSS_SELECTOR, "svg.hist rect title")]
        assert sum(bars) == len(kept)
        row = section.find_element(By.CSS_SELECTOR, "tbody tr:nth-child(2)")
        ActionChains(driver).move_to_element(row).perform()
        lit = section.find_element(By.CSS_SELECTOR, "path.hl")
        assert lit.get_attribute("data-id") == row.get_attribute("data-id")
        assert lit.value_of_css_property("stroke") == "rgb(255, 238, 0)"
        section.screenshot(str(os.environ.get("BLOB_HTML_SCREENSHOT", tmp_path / "report.png")))
    finally:
        driver.quit()
