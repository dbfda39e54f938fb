#include "SensorSources.h"

#include <algorithm>

namespace z540k {

namespace {

// A decimal number of at most five digits up to `limit`, alone in `text`.
bool decimal(const std::string& text, unsigned long limit, unsigned long& value) {
  if (text.empty() || text.size() > 5) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value <= limit;
}

std::vector<SourceCount> mostFirst(std::vector<SourceCount> sources) {
  std::stable_sort(sources.begin(), sources.end(),
                   [](const SourceCount& a, const SourceCount& b) { return a.datagrams > b.datagrams; });
  return sources;
}

}  // namespace

std::string sensorAddressText(const SensorAddress& a) {
  std::string text = std::to_string(a.ip >> 24) + "." + std::to_string((a.ip >> 16) & 0xFF) + "." +
                     std::to_string((a.ip >> 8) & 0xFF) + "." + std::to_string(a.ip & 0xFF);
  if (a.port != 0) text += ":" + std::to_string(a.port);
  return text;
}

bool parseSensorAddress(const std::string& text, SensorAddress& address, std::string& error) {
  error = "\"" + text + "\" is not IP or IP:PORT (e.g. 192.168.1.200 or 192.168.1.200:2368)";
  const std::size_t colon = text.find(':');
  const std::string ip = text.substr(0, colon);
  SensorAddress parsed;
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? ip.find('.', start) : ip.size();
    if (dot == std::string::npos) return false;
    unsigned long value = 0;
    if (!decimal(ip.substr(start, dot - start), 255, value)) return false;
    parsed.ip = parsed.ip << 8 | static_cast<std::uint32_t>(value);
    start = dot + 1;
  }
  if (colon != std::string::npos) {
    unsigned long port = 0;
    if (!decimal(text.substr(colon + 1), 65535, port) || port == 0) return false;
    parsed.port = static_cast<std::uint16_t>(port);
  }
  address = parsed;
  error.clear();
  return true;
}

void SensorSources::pin(const SensorAddress& address) {
  chosen_ = address;
  pinned_ = true;
}

bool SensorSources::matchesChosen(const SensorAddress& from) const {
  return chosen_ && from.ip == chosen_->ip && (chosen_->port == 0 || from.port == chosen_->port);
}

bool SensorSources::note(const SensorAddress& from) {
  if (last_ >= sources_.size() || sources_[last_].address != from) {
    const auto known =
        std::find_if(sources_.begin(), sources_.end(), [&](const SourceCount& s) { return s.address == from; });
    last_ = static_cast<std::size_t>(known - sources_.begin());
    if (known == sources_.end() && sources_.size() < kMaxListed) sources_.push_back({from, 0});
  }
  if (last_ < sources_.size()) ++sources_[last_].datagrams;
  if (!chosen_) chosen_ = from;
  if (acceptAll_ || matchesChosen(from)) return true;
  ++others_;
  return false;
}

bool SensorSources::fromChosenHost(std::uint32_t ip) const { return acceptAll_ || !chosen_ || chosen_->ip == ip; }

std::vector<SourceCount> SensorSources::byFrequency() const { return mostFirst(sources_); }

std::string sourceListText(const std::vector<SourceCount>& sources, const std::string& unit) {
  std::string text;
  for (const SourceCount& s : mostFirst(sources)) {
    if (!text.empty()) text += ", ";
    text += sensorAddressText(s.address) + " (" + std::to_string(s.datagrams) + " " + unit + ")";
  }
  return text;
}

}  // namespace z540k
