// Keeps the library non-empty until the services arrive.
namespace varsile_platform_placeholder {}
