package com.kestrova.hubrelay.orvexadapter.client;

/** Every refusal of the adapter. The message names what was refused and why. */
public class AdapterException extends Exception {
    private static final long serialVersionUID = 1L;

    public AdapterException(String message) {
        super(message);
    }
}
