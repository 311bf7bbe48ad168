#pragma once
// The enclosing pipeline as bins see it: a root property node under which
// the pipeline's bins and elements keep their properties, and the scheduler
// their elements run on.
//
// `SimplePipeline` is the plain implementation: it holds the two objects it
// is given. Owner: shared by the pipeline's client and every bin built on it.
// Both getters may be called from any thread; the objects never change.

#include <memory>
#include <utility>

#include "common/property_node.h"
#include "media_common/scheduler.h"

namespace dravo::media {

class AbstractPipeline {
 public:
  virtual ~AbstractPipeline() = default;

  virtual std::shared_ptr<PropertyNode> getRootNode() const = 0;
  virtual std::shared_ptr<Scheduler> getScheduler() const = 0;
};

class SimplePipeline : public AbstractPipeline {
 public:
  SimplePipeline(std::shared_ptr<Scheduler> scheduler, std::shared_ptr<PropertyNode> root)
      : scheduler_(std::move(scheduler)), root_(std::move(root)) {}

  std::shared_ptr<PropertyNode> getRootNode() const override { return root_; }
  std::shared_ptr<Scheduler> getScheduler() const override { return scheduler_; }

 private:
  std::shared_ptr<Scheduler> const scheduler_;
  std::shared_ptr<PropertyNode> const root_;
};

}  // namespace dravo::media
