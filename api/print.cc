// print(): header line with centred column names, then one line per row,
// widths counted in display cells. Written in blocks of about 4 KB.
#include "api/print.h"

#include <cstdio>
#include <vector>

#include "api/export.h"
#include "lang/format.h"

namespace nosql_db {
namespace {

constexpr uint64_t block_size = 4096;

void append_repeat(xstring* out, char c, uint64_t n) {
  for (uint64_t i = 0; i < n; ++i) out->push_back(c);
}

void write_out(const xstring& b) {
  if (!b.empty()) std::fwrite(b.data(), 1, b.size(), stdout);
  std::fflush(stdout);
}

// Builds the table; when flush is set, writes full blocks as it goes.
void render(const datas& d, xstring* out, bool flush) {
  if (d.cols.empty()) return;
  const size_t ncol = d.cols.size();
  const uint64_t nrow = d.cols[0].rows();
  std::vector<std::vector<xstring>> text(ncol);
  std::vector<std::vector<uint64_t>> width(ncol);
  std::vector<uint64_t> colw(ncol), namew(ncol);
  for (size_t c = 0; c < ncol; ++c) {
    const datas_col& col = d.cols[c];
    namew[c] = utf8_width(col.name.view());
    colw[c] = namew[c];
    text[c].resize(nrow);
    width[c].resize(nrow);
    for (uint64_t r = 0; r < nrow && r < col.rows(); ++r) {
      const datas_cell* cell = col.cell(r);
      if (!cell) throw std::bad_alloc();
      format_cell(col.desc, cell->value, cell->text(), &text[c][r]);
      width[c][r] = utf8_width(text[c][r].view());
      if (width[c][r] > colw[c]) colw[c] = width[c][r];
    }
  }
  out->append("\n|-", 3);
  for (size_t c = 0; c < ncol; ++c) {
    const uint64_t left = (colw[c] - namew[c]) / 2;
    const uint64_t right = colw[c] - left - namew[c];
    append_repeat(out, '-', left);
    out->append(d.cols[c].name.data(), d.cols[c].name.size());
    append_repeat(out, '-', right);
    if (c + 1 < ncol) out->append("-|-", 3);
    else out->append("-| ", 3);
  }
  out->push_back('\n');
  for (uint64_t r = 0; r < nrow; ++r) {
    if (flush && out->size() > block_size) {
      write_out(*out);
      out->clear();
    }
    out->append("| ", 2);
    for (size_t c = 0; c < ncol; ++c) {
      out->append(text[c][r].data(), text[c][r].size());
      append_repeat(out, ' ', colw[c] - width[c][r]);
      if (c + 1 < ncol) out->append(" | ", 3);
      else out->append(" |", 2);
    }
    out->push_back('\n');
  }
}

}  // namespace

uint64_t utf8_width(std::string_view s) noexcept {
  uint64_t w = 0;
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      w += (b >= 0x20 && b <= 0x7E) ? 1 : 0;
      ++i;
      continue;
    }
    size_t len;
    if ((b & 0xE0) == 0xC0) len = 2;
    else if ((b & 0xF0) == 0xE0) len = 3;
    else if ((b & 0xF8) == 0xF0) len = 4;
    else return w;
    if (i + len > s.size()) return w;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return w;
    }
    w += 2;
    i += len;
  }
  return w;
}

void render_table(const datas& d, xstring* out) { render(d, out, false); }

}  // namespace nosql_db

NOSQL_EXPORT void print(const datas* d) {
  if (!d || d->cols.empty()) return;
  try {
    std::fflush(stdout);
    nosql_db::xstring buf;
    nosql_db::render(*d, &buf, true);
    nosql_db::write_out(buf);
  } catch (...) {
    // Out of memory while formatting: nothing more is printed.
  }
}
