#pragma once

#include <array>
#include <string>

/// The 40 fields of a stored extraction, numbered from 1 as in planifs.txt.
struct StoredLine {
    std::array<std::string, 41> fields;

    /// A flat extraction on demand, its other fields as the form leaves them.
    static StoredLine extraction(const std::string& title, const std::string& address, int depth,
                                 const std::string& destination, int layout = 1) {
        StoredLine line;
        const char* defaults[] = {"",  "",  "",  "",  "",  "",  "2", "", "",  "0", "2", "8",          "0",    "0",
                                  "1", "1", "1", "1", "1", "0", "0", "", "*", "",  "*", "",           "*",    "",
                                  "*", "",  "",  "",  "*", "",  "*", "", "*", "",  "*", "2007/05/14", "08:45"};
        for (std::size_t i = 0; i < line.fields.size(); ++i)
            line.fields[i] = defaults[i];
        line.fields[1] = title;
        line.fields[2] = address;
        line.fields[3] = std::to_string(depth);
        line.fields[7] = destination;
        line.fields[8] = std::to_string(layout);
        return line;
    }

    /// The line as planifs.txt holds it: quoted fields, commas, CR LF.
    std::string text() const {
        std::string result;
        for (std::size_t i = 1; i < fields.size(); ++i)
            result += (i > 1 ? ",\"" : "\"") + fields[i] + "\"";
        return result + "\r\n";
    }
};
