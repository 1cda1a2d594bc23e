package com.kestrova.hubrelay.orvexadapter.parameter;

public class InstancesParameter extends XmlParameter {
    public InstancesParameter(String xmlText) {
        super(xmlText);
    }
}
