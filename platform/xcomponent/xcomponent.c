// XComponent stand-in: components with an id, a surface size, the last touch event and one
// registered callback table. The test host plays the UI framework and fires the callbacks.
#include <stdlib.h>
#include <string.h>

#include "xcomponent_host.h"

struct OH_NativeXComponent {
    char id[OH_XCOMPONENT_ID_LEN_MAX + 1];
    uint64_t width;
    uint64_t height;
    OH_NativeXComponent_TouchEvent touch;
    OH_NativeXComponent_Callback *callback;
};

OH_NativeXComponent *KavoriXComponent_Create(const char *id) {
    OH_NativeXComponent *component = calloc(1, sizeof(*component));
    if (component == NULL) return NULL;
    if (id != NULL) strncpy(component->id, id, OH_XCOMPONENT_ID_LEN_MAX);
    return component;
}

void KavoriXComponent_SetSize(OH_NativeXComponent *component, uint64_t width, uint64_t height) {
    if (component == NULL) return;
    component->width = width;
    component->height = height;
}

void KavoriXComponent_SetTouchEvent(OH_NativeXComponent *component,
                                    const OH_NativeXComponent_TouchEvent *event) {
    if (component != NULL && event != NULL) component->touch = *event;
}

int KavoriXComponent_Fire(OH_NativeXComponent *component, enum KavoriXComponentEvent event,
                          void *window) {
    if (component == NULL || component->callback == NULL) return -1;
    OH_NativeXComponent_Callback *cb = component->callback;
    void (*fn)(OH_NativeXComponent *, void *) = NULL;
    switch (event) {
        case KAVORI_XC_SURFACE_CREATED:
            fn = cb->OnSurfaceCreated;
            break;
        case KAVORI_XC_SURFACE_CHANGED:
            fn = cb->OnSurfaceChanged;
            break;
        case KAVORI_XC_SURFACE_DESTROYED:
            fn = cb->OnSurfaceDestroyed;
            break;
        case KAVORI_XC_TOUCH:
            fn = cb->DispatchTouchEvent;
            break;
    }
    if (fn == NULL) return -1;
    fn(component, window);
    return 0;
}

int32_t OH_NativeXComponent_GetXComponentId(OH_NativeXComponent *component, char *id,
                                            uint64_t *size) {
    if (component == NULL || id == NULL || size == NULL)
        return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
    size_t len = strlen(component->id);
    if (*size < len + 1) return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
    memcpy(id, component->id, len + 1);
    *size = len;
    return OH_NATIVEXCOMPONENT_RESULT_SUCCESS;
}

int32_t OH_NativeXComponent_GetXComponentSize(OH_NativeXComponent *component, const void *window,
                                              uint64_t *width, uint64_t *height) {
    if (component == NULL || window == NULL || width == NULL || height == NULL) {
        return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
    }
    *width = component->width;
    *height = component->height;
    return OH_NATIVEXCOMPONENT_RESULT_SUCCESS;
}

int32_t OH_NativeXComponent_GetTouchEvent(OH_NativeXComponent *component, const void *window,
                                          OH_NativeXComponent_TouchEvent *touchEvent) {
    if (component == NULL || window == NULL || touchEvent == NULL) {
        return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
    }
    *touchEvent = component->touch;
    return OH_NATIVEXCOMPONENT_RESULT_SUCCESS;
}

int32_t OH_NativeXComponent_RegisterCallback(OH_NativeXComponent *component,
                                             OH_NativeXComponent_Callback *callback) {
    if (component == NULL || callback == NULL) return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
    component->callback = callback;
    return OH_NATIVEXCOMPONENT_RESULT_SUCCESS;
}
