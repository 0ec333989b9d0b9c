#pragma once
// What a message says, named by the layer that makes it: its number among the numbered texts of
// cfg/lang.ini (91 and up), which says it in the operator's language, and its English form, for
// batch runs and logs. Variable parts are %1 to %9 in both. Each layer keeps its own in a
// *_messages.h beside its code; the text is made only where a person reads it.

#include <string_view>

namespace kasse {

struct MessageId {
  int number;
  std::string_view english;  // cp1252
};

}  // namespace kasse
