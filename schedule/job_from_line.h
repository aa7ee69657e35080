#pragma once

#include "engine/extraction_job.h"
#include "schedule/schedule_line.h"

#include <string_view>

/// The number at the start of a stored field, rounded to a whole number;
/// 0 when the field is empty or does not start with a number.
int leading_number(std::string_view field_text);

/// The extraction that a stored line describes: the fields from field::title
/// to field::layout, and the include and exclude patterns.
ExtractionJob job_from_line(const ScheduleLine& line);
