#import <AVFoundation/AVFoundation.h>

#include <functional>

#include "platform/capture_device.h"

namespace speechline {
namespace {

AVMediaType platformMediaType(MediaType mediaType) {
  switch (mediaType) {
    case MediaType::kAudio:
      return AVMediaTypeAudio;
  }
  return AVMediaTypeAudio;
}

}  // namespace

void CaptureDevice::requestAccessForMediaType(MediaType mediaType,
                                              std::function<void(bool)> completionHandler) {
  // AVFoundation answers on a dispatch queue of its own, not through the main queue, which the
  // caller blocks while it waits; the answer is handed on from there unchanged.
  [AVCaptureDevice requestAccessForMediaType:platformMediaType(mediaType)
                           completionHandler:^(BOOL granted) {
                             completionHandler(granted != NO);
                           }];
}

}  // namespace speechline
