#pragma once
// The base of every pipeline node: sources, filters and sinks.
//
// An element owns its place in the property tree (its node N: properties are
// children of N, its status is N/"status", its pads' nodes are N/"pads/<name>",
// attribute values N/"attributes/<key>"), its scheduler, its named pads and
// the machinery that turns property changes, made on any thread, into one
// coalesced `onPropertyChange` call on the element's scheduler.
//
// Elements are made only through `createElement<T>(args, ...)`, which wraps
// the object in a shared pointer whose deleter runs `finalize()` before
// deleting it, and then initialises it:
//   1. `initialize()` (the derived class creates pads and binds properties),
//   2. the initial property values of the ElementArgs are applied,
//   3. the first property-change pass is queued at the highest priority:
//      `onPropertyChange(true)`.
// Later changes queue at most one pass (level 0) until that pass starts.
//
// Threads: `onPropertyChange`, pad handlers and timers of the element run on
// its scheduler; property changes and lookups may come from any thread.
//
// The element's tasks (property-change passes, pad handlers, its clock
// callbacks) all have the element as owner, so they never overlap and form
// one sequence, `sequenceToken()`. State that only they touch needs no lock:
// mark it DRAVO_GUARDED_BY(sequence_checker_) and begin each function that
// touches it with DRAVO_DCHECK_RUN_ON(sequence_checker_). Each entry point
// that runs such a task opens the sequence with
// `ScopedSequence scope(sequenceToken());`; in checked builds a call from
// anywhere else is the assertion "Called on the wrong sequence".

#include <memory>
#include <string>
#include <vector>

#include "common/check.h"
#include "common/diagnostics/buffer_trace.h"
#include "common/mutex.h"
#include "common/non_copyable.h"
#include "common/property_node.h"
#include "common/sequence_checker.h"
#include "common/sigslot.h"
#include "common/status.h"
#include "common/weak_map.h"
#include "media_common/element_args.h"
#include "media_common/event.h"
#include "media_common/pad.h"
#include "media_common/scheduler.h"

namespace dravo::media {

class Clock;

class Element : public sigslot::has_slots<sigslot::multi_threaded_local>,
                public std::enable_shared_from_this<Element>,
                NonCopyable {
 public:
  ~Element() override;

  std::string const& getFullName() const { return full_name_; }
  std::shared_ptr<Scheduler> const& getScheduler() const { return scheduler_; }
  std::shared_ptr<PropertyNode> const& getPropertyNode() const { return node_; }
  // The child `name` of the element's node, created if missing.
  std::shared_ptr<PropertyNode> getPropertyNode(std::string const& name) const {
    return node_->getNode(name, true);
  }
  std::shared_ptr<Status> const& getStatus() const { return status_; }
  void setStatus(int code, std::string const& message) { status_->setStatus(code, message); }
  buffer_trace::InstanceInfo const* getInstInfo() const { return inst_info_; }
  // The sequence of the element's tasks (see above).
  SequenceToken sequenceToken() const { return sequence_token_; }

  // N/"attributes/<name>", created if missing.
  std::shared_ptr<PropertyNode> getAttributeProperty(std::string const& name);
  // Stores the key and value of an attribute event; other events are ignored.
  void processAttributeEvents(std::shared_ptr<Event const> const& event);

  // The pad named `name` cast to `P`: an existing live pad, or one made by
  // `createPad`; null when neither.
  template <typename P>
  std::shared_ptr<P> getPadByName(std::string const& name) {
    return std::dynamic_pointer_cast<P>(getPadByNameImpl(name, false, false));
  }
  // Only an existing pad; never calls `createPad`.
  template <typename P>
  std::shared_ptr<P> findPadByName(std::string const& name) {
    return std::dynamic_pointer_cast<P>(getPadByNameImpl(name, false, true));
  }

  // Makes, initialises and registers a pad of type `P` named `name`. The
  // caller keeps it: the element holds its pads only weakly. Called
  // from initialize(), by the element or its mixins.
  template <typename P>
  std::shared_ptr<P> createStaticPad(std::string const& name) {
    auto pad = std::make_shared<P>();
    pad->initialize(PadArgs(getPropertyNode("pads/" + name), scheduler_));
    MutexLock lock(element_mutex_);
    DRAVO_ASSERT(pads_.find(name) == pads_.end());
    if (pads_.find(name) == pads_.end()) pads_.insert(name, pad);
    return pad;
  }

  // Emitted on the element's scheduler at the start of every property-change
  // pass, before `onPropertyChange`; cached property wrappers hang on it.
  sigslot::signal0<sigslot::multi_threaded_local>& getPropertyChangeSignal() {
    return property_change_signal_;
  }

 protected:
  class IllegalType;

  Element();

  // Called just before deletion; disconnects all signal connections.
  virtual void finalize();
  // Guards against the old initialisation signature; never called.
  virtual IllegalType* initialize(ElementArgs const&) final { return nullptr; }
  // Derived setup: create pads, bind properties, start timers. Overrides call
  // the base first.
  virtual void initialize();
  // Reacts to property changes; `first` only for the first pass.
  virtual void onPropertyChange(bool first);
  // Guards against the old notification signature; never called.
  virtual IllegalType* onPropertyChange(PropertyChangedArgs const&) final { return nullptr; }
  // Makes an on-request pad named `*name`; the base makes none.
  virtual void createPad(std::string* name, std::shared_ptr<PadBase>* pad);

  // The clock bound to the child property `name`, `default_clock` until the
  // property names another.
  std::shared_ptr<Clock> initializeClockProperty(const char* name,
                                                 std::shared_ptr<Clock> default_clock);

  // With `already_locked` the caller holds the element mutex.
  std::shared_ptr<PadBase> getPadByNameImpl(std::string const& name, bool already_locked,
                                            bool no_create);
  std::shared_ptr<PadBase> getPadByNameLocked(std::string const& name, bool no_create)
      DRAVO_REQUIRES(element_mutex_);

  Mutex element_mutex_;
  // Checks that state confined to the element's tasks is touched only there.
  SequenceChecker sequence_checker_;

 private:
  template <typename T, typename... Args>
  friend std::shared_ptr<T> createElement(ElementArgs const& args, Args&&... constructor_args);

  void callInitialize(ElementArgs const& args);
  void onPropertyChangeUnsynchronized(PropertyChangedArgs const& args);
  void callOnPropertyChange(bool first_call);
  static void deleter(Element* element);
  // getPadByNameImpl(name, true, ...) has its caller's word that the element
  // mutex is held, which a Mutex cannot confirm; the analysis takes it from here.
  void callerHoldsElementMutex() const DRAVO_ASSERT_CAPABILITY(element_mutex_) {}

  SequenceToken const sequence_token_ = SequenceToken::create();
  Mutex property_change_mutex_ DRAVO_ACQUIRED_AFTER(element_mutex_);
  bool property_change_scheduled_ DRAVO_GUARDED_BY(property_change_mutex_) = true;
  bool property_change_first_call_ DRAVO_GUARDED_BY(property_change_mutex_) = true;
  std::shared_ptr<TaskInfo const> property_change_task_info_;
  std::string full_name_;
  Mutex tracking_mutex_;
  std::vector<std::shared_ptr<void>> tracking_objects_ DRAVO_GUARDED_BY(tracking_mutex_);
  sigslot::signal0<sigslot::multi_threaded_local> property_change_signal_;
  std::shared_ptr<Scheduler> scheduler_;
  std::shared_ptr<PropertyNode> node_;
  WeakMap<std::string, PadBase> pads_ DRAVO_GUARDED_BY(element_mutex_);
  std::shared_ptr<Status> status_;
  buffer_trace::InstanceInfo const* inst_info_ = nullptr;
};

// Constructs a `T` from `constructor_args`, owns it with Element's deleter
// and initialises it with `args`.
template <typename T, typename... Args>
std::shared_ptr<T> createElement(ElementArgs const& args, Args&&... constructor_args) {
  std::shared_ptr<T> element(new T(std::forward<Args>(constructor_args)...), &Element::deleter);
  element->callInitialize(args);
  return element;
}

}  // namespace dravo::media
