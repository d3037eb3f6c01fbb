// The export module described as data: its server components and their design settings, kept
// in resources/marc2excel.ini, built into the program and read when the module is created.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// How the application component finds its spreadsheet when it connects.
enum class ConnectKind {
  RunningOrNew,  // ckRunningOrNew: a running one, or a new one started for the export
  Running,       // ckRunning: a running one only
};

struct ComponentDescription {
  std::string name;        // e.g. "ExcelApplication1"
  std::string class_name;  // e.g. "TExcelApplication"
  bool auto_connect = false;
  ConnectKind connect_kind = ConnectKind::RunningOrNew;
  bool auto_quit = false;
};

struct ModuleDescription {
  std::string name;                              // "Marc2ExcelFm"
  std::string class_name;                        // "TMarc2ExcelFm"
  std::vector<ComponentDescription> components;  // in the order described

  // The component with that name; std::invalid_argument when there is none.
  const ComponentDescription& Component(std::string_view name) const;
};

// Reads "[Name]" sections with "Key = Value" lines; blank lines and lines starting with "#" or
// ";" are skipped. The first section is the module, each further one a component. Throws
// std::invalid_argument naming the line for anything it does not know, so that a mistyped
// setting fails the first start rather than changing behaviour quietly.
ModuleDescription ParseModuleDescription(std::string_view text);

// Parses the text and checks that it describes what the export relies on: the components
// ExcelApplication1, ExcelWorkbook1 and ExcelWorksheet1 of their classes, none connecting on
// its own and none quitting the application. Throws std::invalid_argument otherwise.
ModuleDescription LoadModuleDescription(std::string_view text);

// The description built into the program (resources/marc2excel.ini).
std::string_view EmbeddedModuleDescription();

}  // namespace tessaly
