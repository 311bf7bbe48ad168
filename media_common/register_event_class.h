#pragma once
// REGISTER_EVENT_CLASS(C): registers event class C with `Event::g_factory`
// under C's type id while the program runs, so `Event::deserialize` can make
// C from bytes. Use it at namespace scope in a .cc file:
//
//     REGISTER_EVENT_CLASS(MessageEvent<AttributeEventProto, 8>);
//
// The registration is a static object. In a static library the linker keeps
// an object file only when something else in it is referenced, so put the
// macro in a file the program needs anyway (the one defining the class's
// methods or its users), or register from a function that such code calls, as
// registerMediaEvents() does.

#include "common/factory.h"
#include "media_common/event.h"

#define DRAVO_EVENT_CONCAT_INNER(a, b) a##b
#define DRAVO_EVENT_CONCAT(a, b) DRAVO_EVENT_CONCAT_INNER(a, b)

#define REGISTER_EVENT_CLASS(...)                                                         \
  static ::dravo::FactoryClassInstantiator<::dravo::media::EventFactoryType, __VA_ARGS__> \
  DRAVO_EVENT_CONCAT(dravo_event_class_instantiator_, __LINE__)(&::dravo::media::Event::g_factory)
