// One engine player reference, dropped when the holder goes out of scope.
#ifndef KAVORI_PROXY_ENGINE_REF_H
#define KAVORI_PROXY_ENGINE_REF_H

#include "kvmp.h"

class EngineRef {
  public:
    // Adopts a reference the caller already owns (null allowed).
    explicit EngineRef(KavoriCloudMediaPlayer *mp) : mp_(mp) {}
    // Nothing for a missing player: without one no reference was taken.
    ~EngineRef() {
        if (mp_ != nullptr) kvmp_dec_ref_p(&mp_);
    }
    EngineRef(const EngineRef &) = delete;
    EngineRef &operator=(const EngineRef &) = delete;

    KavoriCloudMediaPlayer *get() const { return mp_; }
    explicit operator bool() const { return mp_ != nullptr; }

  private:
    KavoriCloudMediaPlayer *mp_;
};

#endif
