// The HTML report: the page's frame, styles and script, one section per image (its data as JSON and
// its picture as SVG), and the picture itself.
#include <report/html_report.h>
#include <report/pictures.h>
#include <report/version.h>

#include <blob/blob.h>

#include <algorithm>
#include <ostream>
#include <unordered_map>

namespace report {
namespace {

const char* const kStyle = R"css(
body{font:14px/1.4 system-ui,sans-serif;margin:1em 2em;color:#222}
h1{font-size:1.4em}h2{font-size:1.15em;margin:1.5em 0 .3em;word-break:break-all}
.note{color:#555;margin:.2em 0 .6em}.error{color:#b00020}
.pane{display:flex;flex-wrap:wrap;gap:1.2em;align-items:flex-start}
svg.figure{max-width:min(100%,60vw);height:auto;background:#111;flex:none}
svg.figure path{fill:transparent;stroke:#00e5ff;stroke-width:1.5px;vector-effect:non-scaling-stroke}
svg.figure path.hole{stroke:#ff9f1a;stroke-dasharray:4 2}
svg.figure path.hl{stroke:#ffee00;stroke-width:3px;stroke-dasharray:none;fill:rgba(255,238,0,.3)}
.side{flex:1;min-width:22em}
.controls{display:flex;flex-wrap:wrap;gap:.3em .8em;align-items:center;margin-bottom:.4em}
.controls input{width:7em}
.scroll{max-height:32em;overflow:auto;border:1px solid #ccc}
table{border-collapse:collapse;font-variant-numeric:tabular-nums}
th,td{padding:.1em .5em;text-align:right;white-space:nowrap}
th{position:sticky;top:0;background:#eee;cursor:pointer;user-select:none}
th.asc::after{content:" \25B2"}th.desc::after{content:" \25BC"}
tr.hl td{background:#fff3a0}
svg.hist rect{fill:#4a7fb5}svg.hist text{font-size:10px;fill:#444}
.pager button{margin:0 .3em}
)css";

// The script: builds each section's controls, table, pager and histogram from its data, and ties
// the rows to the outlines.
const char* const kScript = R"js(
(function () {
  'use strict';
  const PAGE = %PAGE%;
  function el(tag, attrs, text) {
    const e = document.createElement(tag);
    for (const k in attrs || {}) e.setAttribute(k, attrs[k]);
    if (text !== undefined) e.textContent = text;
    return e;
  }
  function show(v) {
    if (v === null) return '';
    return Number.isInteger(v) ? String(v) : String(Number(v.toPrecision(6)));
  }
  function setUp(section) {
    const data = JSON.parse(section.querySelector('script.data').textContent);
    section.prepend(el('h2', {}, data.file === null ? '(demo image)' : data.file));
    if (data.error !== undefined) {
      section.append(el('p', {class: 'error'}, data.error));
      return;
    }
    const cols = data.columns, rows = data.rows;
    const listed = rows.length < data.total ? '; the first ' + rows.length + ' are listed and outlined' : '';
    section.querySelector('h2').after(el('p', {class: 'note'},
      data.width + ' \u00d7 ' + data.height + ' pels, ' + data.total + ' blobs and holes' + listed));
    const paths = new Map();
    section.querySelectorAll('svg.figure path[data-id]').forEach(p => paths.set(Number(p.dataset.id), p));
    const firstMeasure = cols.length > 4 ? 4 : 0;
    const measureSelect = (cls, chosen) => {
      const s = el('select', {class: cls});
      cols.forEach((c, i) => s.append(el('option', {value: i}, c)));
      s.value = chosen;
      return s;
    };
    const filterBy = measureSelect('filter-measure', firstMeasure);
    const low = el('input', {class: 'low', type: 'number', step: 'any', placeholder: 'min'});
    const high = el('input', {class: 'high', type: 'number', step: 'any', placeholder: 'max'});
    const count = el('span', {class: 'count'});
    const area = cols.indexOf('area');
    const histBy = measureSelect('hist-measure', area >= 0 ? area : firstMeasure);
    const controls = el('div', {class: 'controls'});
    controls.append(el('span', {}, 'Filter'), filterBy, low, el('span', {}, 'to'), high, count,
                    el('span', {}, 'Histogram of'), histBy);
    const hist = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    hist.setAttribute('class', 'hist');
    hist.setAttribute('width', 360);
    hist.setAttribute('height', 110);
    const table = el('table'), head = el('tr'), body = el('tbody');
    cols.forEach((c, i) => head.append(el('th', {'data-column': i}, c)));
    table.append(el('thead'), body);
    table.tHead.append(head);
    const scroll = el('div', {class: 'scroll'});
    scroll.append(table);
    const pager = el('div', {class: 'pager'});
    const prev = el('button', {class: 'prev'}, '\u2039'), next = el('button', {class: 'next'}, '\u203a');
    const pageText = el('span', {class: 'page'});
    pager.append(prev, pageText, next);
    const side = el('div', {class: 'side'});
    side.append(controls, hist, scroll, pager);
    section.querySelector('.pane').append(side);

    let sortColumn = -1, ascending = true, page = 0, kept = [], lit = null;
    const rowOfId = new Map(rows.map((r, i) => [r[0], i]));
    function keep() {
      const c = Number(filterBy.value);
      const lo = low.value === '' ? null : Number(low.value), hi = high.value === '' ? null : Number(high.value);
      kept = [];
      rows.forEach((r, i) => {
        const v = r[c];
        if ((lo !== null || hi !== null) && v === null) return;
        if ((lo === null || v >= lo) && (hi === null || v <= hi)) kept.push(i);
      });
      if (sortColumn >= 0) {
        const sign = ascending ? 1 : -1;
        kept.sort((a, b) => {
          const x = rows[a][sortColumn], y = rows[b][sortColumn];
          if (x === y) return a - b;
          if (x === null) return 1;
          if (y === null) return -1;
          return sign * (x - y) || a - b;
        });
      }
      page = 0;
      render();
    }
    function render() {
      const pages = Math.max(1, Math.ceil(kept.length / PAGE));
      page = Math.min(page, pages - 1);
      body.replaceChildren();
      for (const i of kept.slice(page * PAGE, (page + 1) * PAGE)) {
        const tr = el('tr', {'data-id': rows[i][0]});
        for (const v of rows[i]) tr.append(el('td', {}, show(v)));
        body.append(tr);
      }
      count.textContent = kept.length + ' of ' + rows.length + ' rows';
      pageText.textContent = 'page ' + (page + 1) + ' of ' + pages;
      pager.style.display = pages > 1 ? '' : 'none';
      head.querySelectorAll('th').forEach((th, i) => {
        th.className = i === sortColumn ? (ascending ? 'asc' : 'desc') : '';
      });
      if (lit !== null) light(lit, false);
      drawHistogram();
    }
    function drawHistogram() {
      const c = Number(histBy.value), W = 360, H = 110, base = 92;
      const values = kept.map(i => rows[i][c]).filter(v => v !== null && isFinite(v));
      hist.replaceChildren();
      const text = (x, y, t, anchor) => {
        const e = document.createElementNS(hist.namespaceURI, 'text');
        e.setAttribute('x', x);
        e.setAttribute('y', y);
        e.setAttribute('text-anchor', anchor);
        e.textContent = t;
        hist.append(e);
      };
      if (values.length === 0) {
        text(W / 2, H / 2, 'no values', 'middle');
        return;
      }
      let lo = Infinity, hi = -Infinity;
      for (const v of values) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
      const bins = lo === hi ? 1 : 24, counts = new Array(bins).fill(0);
      for (const v of values) counts[lo === hi ? 0 : Math.min(bins - 1, Math.floor((v - lo) / (hi - lo) * bins))]++;
      const most = Math.max(...counts), width = W / bins;
      counts.forEach((n, b) => {
        const r = document.createElementNS(hist.namespaceURI, 'rect');
        const h = n === 0 ? 0 : Math.max(1, n / most * (base - 4));
        r.setAttribute('x', b * width + 0.5);
        r.setAttribute('y', base - h);
        r.setAttribute('width', Math.max(1, width - 1));
        r.setAttribute('height', h);
        const t = document.createElementNS(hist.namespaceURI, 'title');
        t.textContent = n + ' from ' + show(lo + (hi - lo) * b / bins);
        r.append(t);
        hist.append(r);
      });
      text(0, H - 4, show(lo), 'start');
      text(W, H - 4, show(hi), 'end');
      text(W / 2, H - 4, values.length + ' values of ' + cols[c], 'middle');
    }
    function light(id, on) {
      const p = paths.get(id), tr = body.querySelector('tr[data-id="' + id + '"]');
      if (p) p.classList.toggle('hl', on);
      if (tr) tr.classList.toggle('hl', on);
      lit = on ? id : null;
    }
    function point(id) {
      if (lit !== null) light(lit, false);
      if (id !== null) light(id, true);
    }
    head.addEventListener('click', e => {
      const th = e.target.closest('th');
      if (!th) return;
      const c = Number(th.dataset.column);
      ascending = c === sortColumn ? !ascending : true;
      sortColumn = c;
      keep();
    });
    [filterBy, low, high].forEach(e => e.addEventListener('input', keep));
    histBy.addEventListener('change', drawHistogram);
    prev.addEventListener('click', () => { page = Math.max(0, page - 1); render(); });
    next.addEventListener('click', () => { page += 1; render(); });
    body.addEventListener('mouseover', e => {
      const tr = e.target.closest('tr');
      if (tr) point(Number(tr.dataset.id));
    });
    body.addEventListener('mouseleave', () => point(null));
    const figure = section.querySelector('svg.figure');
    if (figure) {
      figure.addEventListener('mouseover', e => {
        const p = e.target.closest('path[data-id]');
        if (!p) return point(null);
        const id = Number(p.dataset.id), at = kept.indexOf(rowOfId.get(id));
        if (at >= 0 && Math.floor(at / PAGE) !== page) {
          page = Math.floor(at / PAGE);
          render();
        }
        point(id);
        const tr = body.querySelector('tr[data-id="' + id + '"]');
        if (tr) tr.scrollIntoView({block: 'nearest'});
      });
      figure.addEventListener('mouseleave', () => point(null));
    }
    keep();
  }
  // Each section is built when it comes near the window, so that a page of many images opens at once.
  const sections = document.querySelectorAll('section.image');
  const near = new IntersectionObserver(entries => entries.forEach(entry => {
    if (!entry.isIntersecting) return;
    near.unobserve(entry.target);
    setUp(entry.target);
  }), {rootMargin: '400px'});
  sections.forEach(section => near.observe(section));
  document.querySelector('p.summary').textContent =
    sections.length + (sections.length === 1 ? ' image' : ' images') + '; point at a row or an outline to find the other.';
})();
)js";

// scriptText(): kScript with its constants filled in.
std::string scriptText() {
  std::string text = kScript;
  const std::string key = "%PAGE%";
  text.replace(text.find(key), key.size(), std::to_string(kHtmlPageRows));
  return text;
}

// inScript(json): json safe inside a <script> element: '<' (which occurs only inside strings) as
// its escape, so that no "</script" or "<!--" can appear.
std::string inScript(const std::string& json) {
  std::string out;
  out.reserve(json.size());
  for (char c : json) {
    if (c == '<') out += "\\u003c";
    else out += c;
  }
  return out;
}

// reduced(image, factor): each pel the rounded mean of a factor x factor square of image (fewer at
// the right and bottom edges).
GreyImage reduced(const GreyImage& image, long factor) {
  GreyImage out{(image.width + factor - 1) / factor, (image.height + factor - 1) / factor, {}};
  out.pels.resize(static_cast<std::size_t>(out.width * out.height));
  std::vector<std::uint64_t> sums(static_cast<std::size_t>(out.width));
  for (long oy = 0; oy < out.height; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    const long y0 = oy * factor, y1 = std::min(image.height, y0 + factor);
    for (long y = y0; y < y1; ++y) {
      const unsigned char* row = image.pels.data() + static_cast<std::size_t>(y * image.width);
      for (long x = 0; x < image.width; ++x) sums[static_cast<std::size_t>(x / factor)] += row[x];
    }
    for (long ox = 0; ox < out.width; ++ox) {
      const std::uint64_t n = static_cast<std::uint64_t>((y1 - y0) * (std::min(image.width, (ox + 1) * factor) - ox * factor));
      out.pels[static_cast<std::size_t>(oy * out.width + ox)] =
          static_cast<unsigned char>((sums[static_cast<std::size_t>(ox)] + n / 2) / n);
    }
  }
  return out;
}

// outline(blob, code): the SVG path data of blob's boundary, straight steps joined.
std::string outline(const kcBlob& blob, std::vector<keBlobDirection>& code) {
  const kcPair<long> start = blob.boundaryChainCode(code);
  std::string d = "M" + std::to_string(start.x()) + " " + std::to_string(start.y());
  for (std::size_t i = 0; code[i] != keBlobDirectionEnd;) {
    const keBlobDirection step = code[i];
    std::size_t n = 0;
    while (code[i] == step) ++i, ++n;
    const bool negative = step == keBlobDirectionNegX || step == keBlobDirectionNegY;
    d += (step == keBlobDirectionPosX || step == keBlobDirectionNegX) ? "h" : "v";
    if (negative) d += '-';
    d += std::to_string(n);
  }
  return d + "Z";
}

}  // namespace

std::string htmlFigure(const GreyImage& image, const std::vector<const kcBlob*>& blobs) {
  const long longer = std::max(image.width, image.height);
  const long factor = longer > kHtmlMaxSide ? (longer + kHtmlMaxSide - 1) / kHtmlMaxSide : 1;
  const std::string uri = factor == 1 ? pngDataUri(image) : pngDataUri(reduced(image, factor));
  const long zoom = factor == 1 ? overlayZoom(image.width, image.height) : 1;
  const long shownWidth = (image.width + factor - 1) / factor * factor, shownHeight = (image.height + factor - 1) / factor * factor;
  std::string svg = "<svg class=\"figure\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                    std::to_string(image.width) + " " + std::to_string(image.height) + "\" width=\"" +
                    std::to_string(image.width * zoom / factor) + "\" height=\"" +
                    std::to_string(image.height * zoom / factor) + "\"><image href=\"" + uri + "\" width=\"" +
                    std::to_string(shownWidth) + "\" height=\"" + std::to_string(shownHeight) +
                    "\" preserveAspectRatio=\"none\" style=\"image-rendering:pixelated\"/>\n";
  // Parents before children: each blob's depth in the tree, found once per blob.
  std::unordered_map<long, int> depths;
  const auto depth = [&](const kcBlob* blob) {
    std::vector<const kcBlob*> path;
    int known = 0;
    for (; blob != nullptr; blob = blob->parent()) {
      const auto found = depths.find(blob->id());
      if (found != depths.end()) {
        known = found->second;
        break;
      }
      path.push_back(blob);
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) depths[(*it)->id()] = ++known;
    return known;
  };
  std::vector<std::pair<int, const kcBlob*>> order;
  order.reserve(blobs.size());
  for (const kcBlob* blob : blobs) order.emplace_back(depth(blob), blob);
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<keBlobDirection> code;
  try {
    for (const auto& [level, blob] : order) {
      svg += "<path data-id=\"" + std::to_string(blob->id()) + "\" class=\"" + (blob->label() != 0 ? "blob" : "hole") +
             "\" d=\"" + outline(*blob, code) + "\"/>\n";
    }
  } catch (const kcBlob::BadMeasure&) {
    // A whole-image scene traces no boundaries: the picture alone.
  }
  return svg + "</svg>";
}

HtmlReport::HtmlReport(std::ostream& out, std::vector<std::string> measureNames)
    : out_(out), names_(std::move(measureNames)) {
  out_ << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
       << "<meta name=\"generator\" content=\"blob-analyze " << version() << "\">\n"
       << "<title>blob-analyze report</title>\n<style>" << kStyle << "</style></head>\n<body>\n"
       << "<h1>blob-analyze report</h1>\n<p class=\"summary\"></p>\n"
       << "<noscript><p>The tables need JavaScript; the pictures show without it.</p></noscript>\n";
}

void HtmlReport::image(const ImageReport& report, const std::string& figure) {
  ++images_;
  std::string json = "{\"file\":" + (report.demo ? std::string("null") : jsonString(report.file));
  if (!report.error.empty()) {
    out_ << "<section class=\"image\"><script type=\"application/json\" class=\"data\">"
         << inScript(json + ",\"error\":" + jsonString(report.error) + "}") << "</script></section>\n";
    return;
  }
  const std::size_t total = report.numBlobs(), listed = std::min(total, kHtmlMaxBlobs);
  json += ",\"width\":" + std::to_string(report.width) + ",\"height\":" + std::to_string(report.height) +
          ",\"total\":" + std::to_string(total) + ",\"columns\":[\"id\",\"parent\",\"label\",\"numChildren\"";
  for (const std::string& name : names_) json += "," + jsonString(name);
  out_ << "<section class=\"image\"><script type=\"application/json\" class=\"data\">" << inScript(json)
       << "],\"rows\":[";
  BlobRow row;
  for (std::size_t i = 0; i < listed; ++i) {
    report.blobs->row(i, row);
    std::string line = (i == 0 ? "\n[" : ",\n[") + std::to_string(row.id) + "," + std::to_string(row.parent) + "," +
                       std::to_string(row.label) + "," + std::to_string(row.numChildren);
    for (double value : row.values) line += "," + jsonNumber(value);
    out_ << line << "]";
  }
  out_ << "]}</script>\n<div class=\"pane\">" << figure << "</div></section>\n";
}

void HtmlReport::finish() { out_ << "<script>" << scriptText() << "</script>\n</body></html>\n"; }

}  // namespace report
