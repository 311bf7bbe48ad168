#pragma once
// A pipeline as media-tool built it, written as a Graphviz graph: one
// cluster per scheduler, one record node per element (its name, type, key
// properties and pads), one edge per link from output pad to input pad.
// Plain data and a pure function; any thread.

#include <string>
#include <utility>
#include <vector>

namespace dravo::tool {

struct GraphElement {
  std::string name;
  std::string type;
  std::string scheduler;
  std::vector<std::pair<std::string, std::string>> properties;
  std::vector<std::string> input_pads;
  std::vector<std::string> output_pads;
};

struct GraphLink {
  std::string from;
  std::string from_pad;
  std::string to;
  std::string to_pad;
};

struct PipelineDescription {
  std::vector<GraphElement> elements;
  std::vector<GraphLink> links;
};

// The graph in the dot language, one statement per line.
std::string toDot(PipelineDescription const& pipeline);

}  // namespace dravo::tool
