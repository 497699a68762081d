// The platform side of the XComponent stand-in: what the UI framework does on a device
// (create a component, report surface events). Used only by the test host, never by the module.
#ifndef KAVORI_PLATFORM_XCOMPONENT_HOST_H
#define KAVORI_PLATFORM_XCOMPONENT_HOST_H

#include <ace/xcomponent/native_interface_xcomponent.h>

#ifdef __cplusplus
extern "C" {
#endif

// A component with that id (cut to OH_XCOMPONENT_ID_LEN_MAX bytes); lives for the process.
OH_NativeXComponent *KavoriXComponent_Create(const char *id);
void KavoriXComponent_SetSize(OH_NativeXComponent *component, uint64_t width, uint64_t height);
void KavoriXComponent_SetTouchEvent(OH_NativeXComponent *component,
                                    const OH_NativeXComponent_TouchEvent *event);

enum KavoriXComponentEvent {
    KAVORI_XC_SURFACE_CREATED,
    KAVORI_XC_SURFACE_CHANGED,
    KAVORI_XC_SURFACE_DESTROYED,
    KAVORI_XC_TOUCH,
};
// Calls the registered callback for the event, as the UI thread would; 0 when one ran.
int KavoriXComponent_Fire(OH_NativeXComponent *component, enum KavoriXComponentEvent event,
                          void *window);

#ifdef __cplusplus
}
#endif

#endif
