#include "media_common/element.h"

#include "common/diagnostics/scoped_profile.h"
#include "common/logging.h"
#include "common/property_enum.h"
#include "media_common/media_events.h"

DRAVO_LOGGER("element");

namespace dravo::media {

Element::Element() = default;

Element::~Element() {
  DRAVO_ASSERT_MSG(!has_connections(), "The derived class destructor should call disconnect_all!");
  if (node_) {
    if (std::shared_ptr<PropertyNode> parent = node_->getParent())
      parent->removeNode(node_->getName());
  }
}

void Element::finalize() { disconnect_all(); }

void Element::initialize() {
  inst_info_ = buffer_trace::createInstanceInfo(nullptr, "element:" + full_name_);
}

void Element::onPropertyChange(bool) {}

void Element::createPad(std::string* name, std::shared_ptr<PadBase>*) {
  LOGF(3, "createPad called on unknown pad %s", name->c_str());
}

namespace {
bool isTextValue(PropertyValue const& value) { return value.isString(); }
}  // namespace

void Element::callInitialize(ElementArgs const& args) {
  scheduler_ = args.getScheduler();
  node_ = args.getPropertyNode();
  full_name_ = node_->getFullName();
  {
    MutexLock lock(tracking_mutex_);
    tracking_objects_ = args.getTrackingObjects();
  }
  property_change_task_info_ = std::make_shared<SimpleTaskInfo>(full_name_ + " property_change");
  status_ = createStatus(node_->getNode("status", true));

  initialize();

  for (auto const& [name, value] : args.getProperties()) {
    std::shared_ptr<PropertyNode> property = node_->getNode(name, false);
    DRAVO_ASSERT_MSG(property, "Tried to assign unknown property %s.", name.c_str());
    if (!property) continue;
    // An enum may be given by its runtime value; the node holds the name.
    if (isEnumProperty(property) && !isTextValue(value))
      setEnumPropertyByValue(property, value);
    else
      property->setValue(value);
  }

  {
    MutexLock lock(property_change_mutex_);
    property_change_scheduled_ = false;
  }
  node_->connectChanged(this, &Element::onPropertyChangeUnsynchronized);
}

void Element::onPropertyChangeUnsynchronized(PropertyChangedArgs const& args) {
  LOGF(5, "onPropertyChangeUnsynchronized");
  bool first_call = args.type == PROPERTY_CONNECTED;
  {
    MutexLock lock(property_change_mutex_);
    if (property_change_scheduled_) return;
    property_change_scheduled_ = true;
    DRAVO_CHECK_EQ(first_call, property_change_first_call_);
    property_change_first_call_ = false;
  }
  Priority priority = first_call ? Priority::highest() : Priority(0, false);
  std::weak_ptr<Element> weak_self = weak_from_this();
  scheduler_->schedule(TaskFunction(weak_self,
                                    [weak_self, first_call] {
                                      if (auto self = weak_self.lock())
                                        self->callOnPropertyChange(first_call);
                                    }),
                       priority, property_change_task_info_);
}

void Element::callOnPropertyChange(bool first_call) {
  ScopedSequence sequence(sequence_token_);
  ScopedProfile profile(full_name_.c_str());
  LOGF(5, "callOnPropertyChange called: %i %s", first_call, full_name_.c_str());
  {
    MutexLock lock(element_mutex_);
    {
      MutexLock flags(property_change_mutex_);
      DRAVO_CHECK(property_change_scheduled_);
      property_change_scheduled_ = false;
    }
    property_change_signal_.emit();
  }
  onPropertyChange(first_call);
}

std::shared_ptr<PadBase> Element::getPadByNameImpl(std::string const& name, bool already_locked,
                                                   bool no_create) {
  if (already_locked) {
    callerHoldsElementMutex();
    return getPadByNameLocked(name, no_create);
  }
  MutexLock lock(element_mutex_);
  return getPadByNameLocked(name, no_create);
}

std::shared_ptr<PadBase> Element::getPadByNameLocked(std::string const& name, bool no_create) {
  if (std::shared_ptr<PadBase> pad = pads_.get(name)) return pad;
  if (no_create) return nullptr;
  std::string requested = name;
  std::shared_ptr<PadBase> pad;
  createPad(&requested, &pad);
  if (pad) pads_.insert(requested, pad);
  return pad;
}

std::shared_ptr<PropertyNode> Element::getAttributeProperty(std::string const& name) {
  return node_->getNode("attributes/" + name, true);
}

void Element::processAttributeEvents(std::shared_ptr<Event const> const& event) {
  auto attribute = std::dynamic_pointer_cast<AttributeEvent const>(event);
  if (!attribute) return;
  getAttributeProperty(attribute->key())->setValue(PropertyValue(attribute->value()));
}

void Element::deleter(Element* element) {
  {
    ScopedProfile profile("finalize");
    element->finalize();
  }
  ScopedProfile profile("delete");
  delete element;
}

}  // namespace dravo::media
