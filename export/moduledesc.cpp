#include "moduledesc.h"

#include <algorithm>
#include <stdexcept>

namespace tessaly {

namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

[[noreturn]] void Fail(int line, const std::string& what) {
  throw std::invalid_argument("marc2excel description, line " + std::to_string(line) + ": " + what);
}

bool ParseBool(int line, std::string_view value) {
  if (value == "False") return false;
  if (value == "True") return true;
  Fail(line, "expected True or False, not '" + std::string(value) + "'");
}

ConnectKind ParseConnectKind(int line, std::string_view value) {
  if (value == "ckRunningOrNew") return ConnectKind::RunningOrNew;
  if (value == "ckRunning") return ConnectKind::Running;
  Fail(line, "unsupported ConnectKind '" + std::string(value) + "'");
}

}  // namespace

const ComponentDescription& ModuleDescription::Component(std::string_view wanted) const {
  for (const auto& c : components) {
    if (c.name == wanted) return c;
  }
  throw std::invalid_argument("marc2excel description has no component " + std::string(wanted));
}

ModuleDescription ParseModuleDescription(std::string_view text) {
  ModuleDescription module;
  bool in_module = false;
  bool seen_module = false;
  int line_no = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_no;
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;

    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) Fail(line_no, "malformed section header");
      const std::string name(Trim(line.substr(1, line.size() - 2)));
      const bool taken =
          name == module.name || std::any_of(module.components.begin(), module.components.end(),
                                             [&](const auto& c) { return c.name == name; });
      if (taken) Fail(line_no, "section [" + name + "] appears twice");
      if (!seen_module) {
        module.name = name;
        seen_module = in_module = true;
      } else {
        module.components.emplace_back();
        module.components.back().name = name;
        in_module = false;
      }
      continue;
    }

    const auto eq = line.find('=');
    if (eq == std::string_view::npos) Fail(line_no, "expected Key = Value");
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (!seen_module) Fail(line_no, "setting outside a section");

    if (in_module) {
      if (key != "Class") Fail(line_no, "unknown module setting '" + std::string(key) + "'");
      module.class_name = value;
      continue;
    }
    ComponentDescription& c = module.components.back();
    if (key == "Class") {
      c.class_name = value;
    } else if (key == "AutoConnect") {
      c.auto_connect = ParseBool(line_no, value);
    } else if (key == "ConnectKind") {
      c.connect_kind = ParseConnectKind(line_no, value);
    } else if (key == "AutoQuit") {
      c.auto_quit = ParseBool(line_no, value);
    } else {
      Fail(line_no, "unknown component setting '" + std::string(key) + "'");
    }
  }
  if (!seen_module) throw std::invalid_argument("marc2excel description is empty");
  return module;
}

ModuleDescription LoadModuleDescription(std::string_view text) {
  ModuleDescription module = ParseModuleDescription(text);
  if (module.class_name != "TMarc2ExcelFm") {
    throw std::invalid_argument("marc2excel description: the module must be a TMarc2ExcelFm");
  }
  const struct {
    const char* name;
    const char* class_name;
  } expected[] = {{"ExcelApplication1", "TExcelApplication"},
                  {"ExcelWorkbook1", "TExcelWorkbook"},
                  {"ExcelWorksheet1", "TExcelWorksheet"}};
  for (const auto& e : expected) {
    const ComponentDescription& c = module.Component(e.name);
    if (c.class_name != e.class_name) {
      throw std::invalid_argument(std::string("marc2excel description: ") + e.name + " must be a " +
                                  e.class_name);
    }
    // The export connects and releases the components itself, and the spreadsheet belongs to
    // the user afterwards: neither setting can be honoured the other way.
    if (c.auto_connect) {
      throw std::invalid_argument(std::string("marc2excel description: ") + e.name +
                                  " cannot connect on its own (AutoConnect)");
    }
    if (c.auto_quit) {
      throw std::invalid_argument(std::string("marc2excel description: ") + e.name +
                                  " must not quit the spreadsheet (AutoQuit)");
    }
  }
  return module;
}

}  // namespace tessaly
