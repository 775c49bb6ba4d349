#include "host/gui/scenario.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "host/base/regular_file.h"

namespace nuv {
namespace {

constexpr size_t kMaxScenarioFile = 16u << 20;

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw ScenarioError(where + ": " + what);
}

int64_t integer(const json& v, const std::string& where, int64_t min, int64_t max) {
  if (!v.is_number_integer()) fail(where, "must be an integer");
  int64_t n =
      v.is_number_unsigned() && v.get<uint64_t>() > INT64_MAX ? INT64_MAX : v.get<int64_t>();
  if (n < min || n > max) {
    fail(where, "must lie between " + std::to_string(min) + " and " + std::to_string(max));
  }
  return n;
}

int32_t int32(const json& v, const std::string& where) {
  return static_cast<int32_t>(integer(v, where, INT32_MIN, INT32_MAX));
}

uint32_t frame_number(const json& v, const std::string& where) {
  return static_cast<uint32_t>(integer(v, where, 0, UINT32_MAX));
}

std::pair<int32_t, int32_t> pair_of(const json& v, const std::string& where, int64_t min,
                                    int64_t max) {
  if (!v.is_array() || v.size() != 2) fail(where, "must be [width, height]");
  return {static_cast<int32_t>(integer(v[0], where + "[0]", min, max)),
          static_cast<int32_t>(integer(v[1], where + "[1]", min, max))};
}

constexpr std::pair<const char*, int32_t> kNamedKeys[] = {{"Escape", GUI_KEY_ESCAPE},
                                                          {"Enter", GUI_KEY_ENTER},
                                                          {"Tab", GUI_KEY_TAB},
                                                          {"Backspace", GUI_KEY_BACKSPACE},
                                                          {"Space", GUI_KEY_SPACE}};

int32_t key_code(const json& v, const std::string& where) {
  if (v.is_number_integer()) return int32(v, where);
  if (!v.is_string()) fail(where, "must be a key code or a key name");
  std::string name = v.get<std::string>();
  if (name.size() == 1) return static_cast<uint8_t>(name[0]);
  const auto& kNamed = kNamedKeys;
  for (const auto& [n, code] : kNamed) {
    if (name == n) return code;
  }
  fail(where, "unknown key \"" + name +
                  "\" (a single character, a number, or Escape, Enter, "
                  "Tab, Backspace, Space)");
}

void check_members(const json& object, const std::string& where,
                   std::initializer_list<const char*> known) {
  for (const auto& item : object.items()) {
    const std::string& key = item.key();
    if (std::none_of(known.begin(), known.end(), [&](const char* k) { return key == k; })) {
      fail(where, "unknown member \"" + key + "\"");
    }
  }
}

ScenarioEvent event_of(const json& e, const std::string& where) {
  if (!e.is_object()) fail(where, "must be an object");
  check_members(e, where, {"frame", "pointer", "key"});
  if (!e.contains("frame")) fail(where, "needs a \"frame\"");
  ScenarioEvent out;
  out.frame = frame_number(e["frame"], where + ".frame");
  bool pointer = e.contains("pointer");
  if (pointer == e.contains("key")) fail(where, "needs either a \"pointer\" or a \"key\"");
  if (pointer) {
    const json& p = e["pointer"];
    std::string at = where + ".pointer";
    if (!p.is_object()) fail(at, "must be an object {\"x\", \"y\", \"buttons\"}");
    check_members(p, at, {"x", "y", "buttons"});
    if (!p.contains("x") || !p.contains("y")) fail(at, "needs \"x\" and \"y\"");
    out.event = pointer_event(int32(p["x"], at + ".x"), int32(p["y"], at + ".y"),
                              p.contains("buttons") ? int32(p["buttons"], at + ".buttons") : 0);
  } else {
    out.event = key_event(key_code(e["key"], where + ".key"));
  }
  return out;
}

}  // namespace

namespace {

Scenario parse_document(const json& doc) {
  if (!doc.is_object()) fail("scenario", "must be a JSON object");
  check_members(
      doc, "scenario",
      {"description", "size", "fail", "report_size", "events", "screenshots", "frame_limit"});
  Scenario s;
  if (doc.contains("description") && !doc["description"].is_string()) {
    fail("description", "must be a string");
  }
  if (doc.contains("size")) {
    auto [w, h] = pair_of(doc["size"], "size", 1, kMaxContentSide);
    s.width = w;
    s.height = h;
  }
  if (doc.contains("fail")) {
    const json& f = doc["fail"];
    if (!f.is_array()) fail("fail", "must be a list of names");
    for (size_t i = 0; i < f.size(); ++i) {
      std::string where = "fail[" + std::to_string(i) + "]";
      if (!f[i].is_string()) fail(where, "must be a name");
      std::string name = f[i].get<std::string>();
      if (find_injected_failure(name) == nullptr) {
        std::string known;
        for (const InjectedFailure& kind : kInjectedFailures) {
          known += (known.empty() ? "" : ", ") + std::string(kind.name);
        }
        fail(where, "unknown failure \"" + name + "\" (" + known + ")");
      }
      s.fail.push_back(name);
    }
  }
  if (doc.contains("report_size")) {
    s.report_size = pair_of(doc["report_size"], "report_size", INT32_MIN, INT32_MAX);
  }
  if (doc.contains("events")) {
    const json& list = doc["events"];
    if (!list.is_array()) fail("events", "must be a list");
    for (size_t i = 0; i < list.size(); ++i) {
      s.events.push_back(event_of(list[i], "events[" + std::to_string(i) + "]"));
    }
    std::stable_sort(
        s.events.begin(), s.events.end(),
        [](const ScenarioEvent& a, const ScenarioEvent& b) { return a.frame < b.frame; });
  }
  if (doc.contains("screenshots")) {
    const json& list = doc["screenshots"];
    if (!list.is_array()) fail("screenshots", "must be a list of frame numbers");
    for (size_t i = 0; i < list.size(); ++i) {
      s.screenshots.push_back(frame_number(list[i], "screenshots[" + std::to_string(i) + "]"));
    }
    std::sort(s.screenshots.begin(), s.screenshots.end());
    s.screenshots.erase(std::unique(s.screenshots.begin(), s.screenshots.end()),
                        s.screenshots.end());
  }
  if (doc.contains("frame_limit")) {
    s.frame_limit =
        static_cast<uint32_t>(integer(doc["frame_limit"], "frame_limit", 1, UINT32_MAX));
  }
  return s;
}

}  // namespace

const InjectedFailure* find_injected_failure(std::string_view name) {
  for (const InjectedFailure& kind : kInjectedFailures) {
    if (name == kind.name) return &kind;
  }
  return nullptr;
}

Scenario parse_scenario(std::string_view json_text) {
  json doc = json::parse(json_text, nullptr, false);
  if (doc.is_discarded()) throw ScenarioError("not valid JSON");
  return parse_document(doc);
}

json recorded_scenario(const std::vector<ScenarioEvent>& events, int32_t width, int32_t height,
                       uint32_t frames) {
  json list = json::array();
  for (const ScenarioEvent& e : events) {
    json entry{{"frame", e.frame}};
    if (e.event.type == GUI_EVENT_POINTER) {
      entry["pointer"] = {{"x", e.event.word1}, {"y", e.event.word2}, {"buttons", e.event.word3}};
    } else {
      int32_t code = e.event.word1;
      json key = code;
      for (const auto& [name, named] : kNamedKeys) {
        if (code == named) key = name;
      }
      if (key.is_number() && code > 32 && code < 127) key = std::string(1, static_cast<char>(code));
      entry["key"] = key;
    }
    list.push_back(entry);
  }
  json doc{{"description", "a recorded session"}, {"size", {width, height}}, {"events", list}};
  // A limit of 0 is no scenario's: a session that presented nothing just has no limit.
  if (frames > 0) doc["frame_limit"] = frames;
  return doc;
}

Scenario load_scenario(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!read_regular_file(path.string(), kMaxScenarioFile, bytes, why)) {
    throw ScenarioError("cannot read the scenario " + path.string() + ": " + why);
  }
  std::string text(bytes.begin(), bytes.end());
  try {
    return parse_scenario(text);
  } catch (const ScenarioError& e) {
    throw ScenarioError(path.string() + ": " + e.what());
  }
}

}  // namespace nuv
