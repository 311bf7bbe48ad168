#include "tools/pipeline_graph.h"

#include <map>
#include <sstream>

namespace dravo::tool {

namespace {

// Escapes text for a record label: the record syntax characters, quotes and
// backslashes; line feeds become left-justified line breaks.
std::string recordText(std::string const& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '{':
      case '}':
      case '|':
      case '<':
      case '>':
      case '"':
      case '\\':
      case ' ':
        out += '\\';
        out += c;
        break;
      case '\n':
        out += "\\l";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string quoted(std::string const& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string portsRow(std::vector<std::string> const& pads) {
  std::string row = "{";
  for (size_t i = 0; i < pads.size(); ++i) {
    if (i) row += "|";
    row += "<" + pads[i] + "> " + recordText(pads[i]);
  }
  return row + "}";
}

}  // namespace

std::string toDot(PipelineDescription const& pipeline) {
  std::ostringstream out;
  out << "digraph pipeline {\n";
  out << "  rankdir=LR;\n";
  out << "  node [shape=record, fontname=\"monospace\", fontsize=10];\n";
  std::map<std::string, std::vector<GraphElement const*>> by_scheduler;
  for (GraphElement const& element : pipeline.elements)
    by_scheduler[element.scheduler].push_back(&element);
  int cluster = 0;
  for (auto const& [scheduler, elements] : by_scheduler) {
    out << "  subgraph cluster_" << cluster++ << " {\n";
    out << "    label=" << quoted("scheduler: " + scheduler) << ";\n";
    for (GraphElement const* element : elements) {
      std::string body = element->name + "\n" + element->type + "\n";
      for (auto const& [key, value] : element->properties) body += key + " = " + value + "\n";
      std::string label = "{";
      if (!element->input_pads.empty()) label += portsRow(element->input_pads) + "|";
      label += recordText(body);
      if (!element->output_pads.empty()) label += "|" + portsRow(element->output_pads);
      label += "}";
      out << "    " << quoted(element->name) << " [label=\"" << label << "\"];\n";
    }
    out << "  }\n";
  }
  for (GraphLink const& link : pipeline.links)
    out << "  " << quoted(link.from) << ":" << quoted(link.from_pad) << " -> " << quoted(link.to)
        << ":" << quoted(link.to_pad) << ";\n";
  out << "}\n";
  return out.str();
}

}  // namespace dravo::tool
