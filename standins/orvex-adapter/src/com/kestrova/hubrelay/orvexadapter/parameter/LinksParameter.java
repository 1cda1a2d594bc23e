package com.kestrova.hubrelay.orvexadapter.parameter;

public class LinksParameter extends XmlParameter {
    public LinksParameter(String xmlText) {
        super(xmlText);
    }
}
