#include "platform/capture_device.h"
#include "platform/scripted/permission-scripted.h"

namespace speechline {

void CaptureDevice::requestAccessForMediaType(MediaType,
                                              std::function<void(bool)> completionHandler) {
  scripted::logCall("requestAccessForMediaType audio");
  scripted::answerPermission<bool>(scripted::Script::shared().microphoneAccess,
                                   std::move(completionHandler));
}

}  // namespace speechline
