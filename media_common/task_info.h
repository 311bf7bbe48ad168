#pragma once
// Describes a scheduler task for diagnostics (trace lines, profiles).
//
// Owner: usually shared as `std::shared_ptr<TaskInfo const>` by whoever posts
// the task; immutable, so any thread may read it.

#include <string>

namespace dravo::media {

class TaskInfo {
 public:
  // A NUL-terminated name that lives as long as this object.
  virtual const char* getName() const = 0;
  virtual ~TaskInfo() = default;
};

// A task named by a fixed string.
class SimpleTaskInfo : public TaskInfo {
 public:
  explicit SimpleTaskInfo(std::string name) : name_(std::move(name)) {}
  const char* getName() const override { return name_.c_str(); }

 private:
  std::string name_;
};

}  // namespace dravo::media
