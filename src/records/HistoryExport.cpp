#include "HistoryExport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

namespace {

constexpr size_t kTopReasons = 5;

std::vector<std::pair<std::string, int>> ByCount(const std::map<std::string, int>& counts) {
  std::vector<std::pair<std::string, int>> sorted(counts.begin(), counts.end());
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  return sorted;
}

std::string Csv(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string Pad(const std::string& text, size_t width, bool right = false) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

}  // namespace

HistorySummary Summarize(const std::vector<HandsetRecord>& records) {
  HistorySummary summary;
  std::map<std::pair<std::string, int>, ComSummary> coms;
  std::map<std::pair<std::string, int>, std::map<std::string, int>> comReasons;
  std::map<std::string, int> reasons;
  std::set<std::string> stations;
  for (const HandsetRecord& r : records) {
    const bool completed = r.result == kResultCompleted;
    if (!completed && r.result != kResultFailed) continue;
    stations.insert(r.station);
    ComSummary& c = coms[{r.station, r.com}];
    c.station = r.station;
    c.com = r.com;
    if (!r.socket.empty()) c.socket = r.socket;  // records come oldest first: the latest stays
    ++(completed ? c.completed : c.failed);
    ++(completed ? summary.completed : summary.failed);
    if (!completed) {
      ++comReasons[{r.station, r.com}][r.reason];
      ++reasons[r.reason];
    }
  }
  for (auto& [key, c] : coms) {
    if (const auto it = comReasons.find(key); it != comReasons.end()) {
      const auto top = ByCount(it->second).front();
      c.topReason = top.first;
      c.topReasonCount = top.second;
    }
    summary.coms.push_back(c);
  }
  summary.reasons = ByCount(reasons);
  summary.severalStations = stations.size() > 1;
  return summary;
}

std::string YieldText(int completed, int failed) {
  if (completed + failed == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * completed / (completed + failed));
  return text;
}

std::string FormatSummary(const HistorySummary& s, const std::string& heading) {
  std::string out = heading + "\n";
  out += "Completed " + std::to_string(s.completed) + ", failed " + std::to_string(s.failed) + ", yield " +
         YieldText(s.completed, s.failed) + "\n";
  if (s.coms.empty()) return out;

  size_t stationWidth = 7, socketWidth = 6;
  for (const ComSummary& c : s.coms) {
    stationWidth = std::max(stationWidth, c.station.size());
    socketWidth = std::max(socketWidth, c.socket.size());
  }
  auto row = [&](const std::string& station, const std::string& com, const std::string& socket,
                 const std::string& completed, const std::string& failed, const std::string& yield,
                 const std::string& reason) {
    std::string line = s.severalStations ? Pad(station, stationWidth) + "  " : "";
    line += Pad(com, 5) + "  " + Pad(socket, socketWidth) + "  " + Pad(completed, 9, true) + "  " +
            Pad(failed, 6, true) + "  " + Pad(yield, 6, true);
    if (!reason.empty()) line += "  " + reason;
    return line + "\n";
  };
  out += "\n" + row("Station", "COM", "Socket", "Completed", "Failed", "Yield", "Most common failure");
  for (const ComSummary& c : s.coms) {
    const std::string reason =
        c.topReasonCount == 0 ? "" : c.topReason + " (" + std::to_string(c.topReasonCount) + ")";
    out += row(c.station, "COM" + std::to_string(c.com), c.socket.empty() ? "-" : c.socket,
               std::to_string(c.completed), std::to_string(c.failed), YieldText(c.completed, c.failed), reason);
  }
  if (s.reasons.empty()) return out;
  out += "\nTop failure reasons:\n";
  for (size_t k = 0; k < s.reasons.size() && k < kTopReasons; ++k)
    out += Pad(std::to_string(s.reasons[k].second), 6, true) + "  " + s.reasons[k].first + "\n";
  return out;
}

std::string CsvHeader() {
  return "id,station,started,ended,mode,run,entry,com,socket,usb_serial,result,reason,blocks,retries,images\r\n";
}

std::string CsvLine(const HandsetRecord& r) {
  std::string images;
  for (const ImageRecord& image : r.images) images += (images.empty() ? "" : ";") + image.kind + "=" + image.sha256;
  const std::string fields[] = {r.id,     r.station, r.started,  r.ended,  r.mode,
                                r.run,    std::to_string(r.entry), std::to_string(r.com), r.socket,
                                r.usbSerial, r.result, r.reason, std::to_string(r.blocks), std::to_string(r.retries),
                                images};
  std::string line;
  for (const std::string& f : fields) line += (line.empty() ? "" : ",") + Csv(f);
  return line + "\r\n";
}

std::string JsonLine(const HandsetRecord& r) {
  using nlohmann::ordered_json;
  auto orNull = [](const std::string& text) { return text.empty() ? ordered_json(nullptr) : ordered_json(text); };
  ordered_json images = ordered_json::array();
  for (const ImageRecord& image : r.images)
    images.push_back({{"kind", image.kind},
                      {"sha256", orNull(image.sha256)},
                      {"path", image.path},
                      {"size", image.size < 0 ? ordered_json(nullptr) : ordered_json(image.size)}});
  const ordered_json line = {{"id", r.id},         {"station", r.station},         {"started", r.started},
                             {"ended", r.ended},   {"mode", r.mode},               {"run", r.run},
                             {"entry", r.entry},   {"com", r.com},                 {"socket", orNull(r.socket)},
                             {"usb_serial", orNull(r.usbSerial)}, {"result", r.result}, {"reason", orNull(r.reason)},
                             {"blocks", r.blocks}, {"retries", r.retries},         {"images", images}};
  return line.dump(-1, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}
