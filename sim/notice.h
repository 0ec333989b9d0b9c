#pragma once
// Where the card says what its answers cannot: a snapshot it cannot write, leftovers it
// removed, a log near its limit, a folder open to other users. qor-sim prints each line on
// standard error; the register shows the embedded card's lines in its card monitor.

#include <functional>
#include <string>

namespace kasse::sim {

// One line of text (English, no line end); empty: nobody listens.
using NoticeSink = std::function<void(const std::string&)>;

inline void Say(const NoticeSink& sink, const std::string& text) {
  if (sink) sink(text);
}

}  // namespace kasse::sim
