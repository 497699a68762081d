// Host stand-in for the platform's XComponent native interface (libace_ndk.z.so).
#ifndef KAVORI_PLATFORM_NATIVE_INTERFACE_XCOMPONENT_H
#define KAVORI_PLATFORM_NATIVE_INTERFACE_XCOMPONENT_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OH_XCOMPONENT_ID_LEN_MAX 128
#define OH_MAX_TOUCH_POINTS_NUMBER 10

enum {
    OH_NATIVEXCOMPONENT_RESULT_SUCCESS = 0,
    OH_NATIVEXCOMPONENT_RESULT_FAILED = -1,
    OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER = -2,
};

typedef enum {
    OH_NATIVEXCOMPONENT_DOWN = 0,
    OH_NATIVEXCOMPONENT_UP,
    OH_NATIVEXCOMPONENT_MOVE,
    OH_NATIVEXCOMPONENT_CANCEL,
    OH_NATIVEXCOMPONENT_UNKNOWN,
} OH_NativeXComponent_TouchEventType;

typedef struct {
    int32_t id;
    float screenX;
    float screenY;
    float x;
    float y;
    OH_NativeXComponent_TouchEventType type;
    double size;
    float force;
    int64_t timeStamp;
    bool isPressed;
} OH_NativeXComponent_TouchPoint;

typedef struct {
    int32_t id;
    float screenX;
    float screenY;
    float x;
    float y;
    OH_NativeXComponent_TouchEventType type;
    double size;
    float force;
    int64_t deviceId;
    int64_t timeStamp;
    OH_NativeXComponent_TouchPoint touchPoints[OH_MAX_TOUCH_POINTS_NUMBER];
    uint32_t numPoints;
} OH_NativeXComponent_TouchEvent;

typedef struct OH_NativeXComponent OH_NativeXComponent;

typedef struct OH_NativeXComponent_Callback {
    void (*OnSurfaceCreated)(OH_NativeXComponent *component, void *window);
    void (*OnSurfaceChanged)(OH_NativeXComponent *component, void *window);
    void (*OnSurfaceDestroyed)(OH_NativeXComponent *component, void *window);
    void (*DispatchTouchEvent)(OH_NativeXComponent *component, void *window);
} OH_NativeXComponent_Callback;

// id receives the component id and a NUL; *size is in: buffer size, out: id length.
int32_t OH_NativeXComponent_GetXComponentId(OH_NativeXComponent *component, char *id,
                                            uint64_t *size);
int32_t OH_NativeXComponent_GetXComponentSize(OH_NativeXComponent *component, const void *window,
                                              uint64_t *width, uint64_t *height);
int32_t OH_NativeXComponent_GetTouchEvent(OH_NativeXComponent *component, const void *window,
                                          OH_NativeXComponent_TouchEvent *touchEvent);
int32_t OH_NativeXComponent_RegisterCallback(OH_NativeXComponent *component,
                                             OH_NativeXComponent_Callback *callback);

#ifdef __cplusplus
}
#endif

#endif
