package com.kestrova.hubrelay.orvexadapter.client;

/** A listener that forwards to native code through a pointer the native side sets. */
public class NativeAdapterListener implements AdapterListenerIF {
    private long nativePointer;

    public NativeAdapterListener() {
    }

    public synchronized void setNativePointer(long pointer) {
        nativePointer = pointer;
    }

    public synchronized void removeNativePointer(long pointer) {
        if (nativePointer == pointer) {
            nativePointer = 0;
        }
    }

    @Override
    public void notify(String instrumentationId, String message) {
        // No native receiver is wired up; notifications are dropped.
    }
}
