#pragma once

// Reads CSV text back with libcsv, as a spreadsheet would. One reader for the
// export tests and the round-trip checks, so that they all read alike.

#include <csv.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tavo::testing {

using CsvTable = std::vector<std::vector<std::string>>;

// Every field as libcsv finds it under `options`; false, with the reason in
// `why`, where the text does not parse.
inline bool readCsv(const std::string& text, int options, CsvTable& rows, std::string& why) {
    struct State {
        CsvTable rows;
        std::vector<std::string> row;
    } st;
    csv_parser p;
    if (csv_init(&p, static_cast<unsigned char>(options)) != 0) {
        why = "csv_init failed";
        return false;
    }
    // Spaces belong to the field (RFC 4180); libcsv trims them unless told.
    csv_set_space_func(&p, [](unsigned char) { return 0; });
    const auto onField = [](void* data, size_t len, void* s) {
        static_cast<State*>(s)->row.emplace_back(static_cast<const char*>(data), len);
    };
    const auto onRow = [](int, void* s) {
        auto* state = static_cast<State*>(s);
        state->rows.push_back(std::move(state->row));
        state->row.clear();
    };
    const bool parsed =
        csv_parse(&p, text.data(), text.size(), onField, onRow, &st) == text.size() &&
        csv_fini(&p, onField, onRow, &st) == 0;
    if (!parsed) why = std::string("CSV does not parse: ") + csv_strerror(csv_error(&p));
    csv_free(&p);
    if (!parsed) return false;
    rows = std::move(st.rows);
    return true;
}

}  // namespace tavo::testing
