#include "cli/system.h"

#include "engine/wipe.h"

namespace karvel::cli {

// A source that never ends a line, as /dev/zero or an endless pipe, is refused as soon as it has
// given more than the longest text and a CR: nothing more is read from it.
LineResult ReadLine(int fd, char (&text)[kTextSize]) {
  size_t length = 0;  // every byte before the line end, kept or not
  bool zero = false;
  char byte = 0;
  char last = 0;
  int got = 0;
  while ((got = ReadByte(fd, &byte)) == 1 && byte != '\n') {
    if (length < kMaxTextLength) text[length] = byte;
    zero = zero || byte == '\0';
    last = byte;
    ++length;
    if (length > kMaxTextLength + 1 || (length > kMaxTextLength && byte != '\r')) break;
  }
  if (last == '\r') --length;
  byte = 0;
  last = 0;
  LineResult result = LineResult::Ok;
  if (got < 0) {
    result = Interrupted() ? LineResult::Interrupted : LineResult::Failed;
  } else if (length > kMaxTextLength) {
    result = LineResult::TooLong;
  } else if (zero) {
    result = LineResult::NotText;
  }
  if (result == LineResult::Ok) {
    text[length] = '\0';
  } else {
    Wipe(text, sizeof text);
  }
  return result;
}

}  // namespace karvel::cli
