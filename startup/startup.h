// Load-time start-up: signal handlers, exit message, banner, the store and
// the start-up script init.nos, in that order. There is no shutdown: the
// store lives until the process ends. The dispatcher that runs the script's
// lines is handed in by the library's load hook (api/exec.cc), which sits
// above this module.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "catalog/store.h"

struct datas;

namespace nosql_db {

// Runs one command line against the store, appending to the result set.
using line_runner = bool (*)(store& s, const char* line, int64_t len, datas* out);

// Everything the library does at load, in order: signal handlers, exit
// message, banner, the store, init.nos through run; then publishes the
// store for global_store().
void start_library(line_runner run) noexcept;

// The process-wide store; null until start-up has finished (or when it
// could not be built).
store* global_store() noexcept;

// Splits text at every occurrence of delim; empty pieces are kept unless
// skip_empty. Pieces are views into text.
void split_lines(std::string_view text, std::string_view delim, std::vector<std::string_view>* out,
                 bool skip_empty);

// Runs the non-empty lines of init.nos in the current directory through the
// dispatcher, stopping at the first failing line.
void load_init_script(store& s, line_runner run);

// The version text: 0.2.2-27@c41e07b.
const char* version_text() noexcept;

}  // namespace nosql_db
