package com.kestrova.hubrelay.orvexadapter.parameter;

public class EventsParameter extends XmlParameter {
    public EventsParameter(String xmlText) {
        super(xmlText);
    }
}
