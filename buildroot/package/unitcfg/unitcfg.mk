################################################################################
#
# unitcfg
#
################################################################################

UNITCFG_VERSION = 1.0
# The tree this external tree belongs to; an integrator may point UNITCFG_SITE at a release.
UNITCFG_SITE = $(BR2_EXTERNAL_UNITCFG_PATH)/..
UNITCFG_SITE_METHOD = local
# Not the project's own builds, should there be any.
UNITCFG_OVERRIDE_SRCDIR_RSYNC_EXCLUSIONS = --exclude /build
# The boot files are installed below, where Buildroot's init systems want them.
UNITCFG_CONF_OPTS = -DUNITCFG_BUILD_TESTS=OFF -DUNITCFG_BOOT_FILES=OFF

ifeq ($(BR2_PACKAGE_UNITCFG_STATIC),y)
UNITCFG_CONF_OPTS += -DUNITCFG_STATIC=ON
endif

# The installed file's directory, made by the install: root's and 0755 in the image whoever
# builds it, as the run requires.
define UNITCFG_PERMISSIONS
	/usr/share/Quarvane d 0755 0 0 - - - - -
endef

# The boot files name the program at /usr/sbin/unitcfg, where a cmake-package (prefix /usr)
# installs it.
define UNITCFG_INSTALL_INIT_SCRIPT
	$(INSTALL) -D -m 0755 $(@D)/boot/unitcfg.init $(TARGET_DIR)/etc/init.d/S50unitcfg
endef

define UNITCFG_INSTALL_INIT_SYSV
	$(UNITCFG_INSTALL_INIT_SCRIPT)
endef

define UNITCFG_INSTALL_INIT_SYSTEMD
	$(INSTALL) -D -m 0644 $(@D)/boot/unitcfg.service \
		$(TARGET_DIR)/usr/lib/systemd/system/unitcfg.service
endef

ifeq ($(BR2_PACKAGE_UNITCFG_INIT_SCRIPT),y)
UNITCFG_POST_INSTALL_TARGET_HOOKS += UNITCFG_INSTALL_INIT_SCRIPT
endif

$(eval $(cmake-package))
