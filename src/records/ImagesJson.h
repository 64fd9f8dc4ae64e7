// A record's images as the JSON array both stores keep them in and the
// JSON Lines export shows: [{"kind","path","size","sha256"}], null for what
// could not be read.
#pragma once

#include <string>
#include <vector>

#include "HandsetRecord.h"

std::string ImagesToJson(const std::vector<ImageRecord>& images);
/// Nothing readable gives no images rather than a failure: one damaged
/// field must not hide the rest of the record.
std::vector<ImageRecord> ImagesFromJson(const std::string& text);
