// Stub of the SDK's <CoreMedia/CoreMedia.h>, for type-checking the macOS backend on Linux: only
// the sample buffer type that the Speech framework's declarations mention.
#pragma once

typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;
