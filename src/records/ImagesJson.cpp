#include "ImagesJson.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {
std::string Text(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}
}  // namespace

std::string ImagesToJson(const std::vector<ImageRecord>& images) {
  json out = json::array();
  for (const ImageRecord& image : images)
    out.push_back({{"kind", image.kind},
                   {"path", image.path},
                   {"size", image.size < 0 ? json(nullptr) : json(image.size)},
                   {"sha256", image.sha256.empty() ? json(nullptr) : json(image.sha256)}});
  // A path that is not UTF-8 (a legacy name) is kept, its bad bytes replaced.
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::vector<ImageRecord> ImagesFromJson(const std::string& text) {
  std::vector<ImageRecord> images;
  const json parsed = json::parse(text, nullptr, false);
  if (!parsed.is_array()) return images;
  for (const json& item : parsed) {
    if (!item.is_object()) continue;
    ImageRecord image;
    image.kind = Text(item, "kind");
    image.path = Text(item, "path");
    if (auto size = item.find("size"); size != item.end() && size->is_number_integer()) image.size = size->get<int64_t>();
    image.sha256 = Text(item, "sha256");
    images.push_back(std::move(image));
  }
  return images;
}
