#pragma once

#include "store/file_name_filter.h"
#include "store/image_store.h"

#include <string>

/// The parameters of one extraction, as stored on its schedule line. The
/// policy and the layout are read from the line as numbers: a damaged line
/// may hold 0 or any other, which the image store takes as it says.
struct ExtractionJob {
    std::string title;
    std::string start_address;
    int depth = 0; ///< levels of links followed; 0 scans the start page only
    std::string user_name;
    std::string password;
    ExistingPolicy existing_policy{};
    std::string destination;
    Layout layout{};
    PatternSet include_patterns;
    PatternSet exclude_patterns;
    /// Today's formats, srcset, long values, style sheets and social
    /// previews too. A setting of the whole program, not of the line: the
    /// caller sets it from all_image_formats_file.
    bool all_image_formats = false;
};

/// The file in the data folder whose presence turns all_image_formats on for
/// every run, from the window and from the command line alike.
inline constexpr const char* all_image_formats_file = "pref2.txt";
