# The Win32 platform layer.
set(COMM_PLATFORM_SOURCES
)
