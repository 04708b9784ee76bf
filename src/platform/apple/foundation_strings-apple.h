#pragma once

#import <Foundation/Foundation.h>

#include <string>

namespace speechline {

// The UTF-8 bytes of `string`; empty for nil. Embedded NUL characters are kept.
inline std::string toStdString(NSString* string) {
  NSData* bytes = [string dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
  if (bytes == nil || bytes.length == 0) return std::string();
  return std::string(static_cast<const char*>(bytes.bytes), bytes.length);
}

// nil when `text` is not valid UTF-8.
inline NSString* toNSString(const std::string& text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

}  // namespace speechline
