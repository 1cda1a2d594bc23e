package com.kestrova.hubrelay.orvexadapter.client;

/** Receives what the server sends back unasked. This adapter never sends anything. */
public interface AdapterListenerIF {
    void notify(String instrumentationId, String message);
}
