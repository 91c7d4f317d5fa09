/* The entry points live in the device provider's archive; this file only
 * gives the shared library a source of its own. */
