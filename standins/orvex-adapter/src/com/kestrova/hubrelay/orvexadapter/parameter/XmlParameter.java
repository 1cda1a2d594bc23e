package com.kestrova.hubrelay.orvexadapter.parameter;

/** The XML text of one operation, as the native side hands it over. */
public abstract class XmlParameter {
    private final String xmlText;

    protected XmlParameter(String xmlText) {
        this.xmlText = xmlText;
    }

    public String getXmlText() {
        return xmlText;
    }
}
