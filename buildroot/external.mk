include $(sort $(wildcard $(BR2_EXTERNAL_UNITCFG_PATH)/package/*/*.mk))
