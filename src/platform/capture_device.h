#pragma once

#include <functional>

namespace speechline {

enum class MediaType { kAudio };

// Access to capture devices.
class CaptureDevice {
 public:
  // Asks for access to the devices of `mediaType`. The service calls `completionHandler` exactly
  // once, either before this call returns or later on a thread other than the main thread.
  static void requestAccessForMediaType(MediaType mediaType,
                                        std::function<void(bool granted)> completionHandler);
};

}  // namespace speechline
