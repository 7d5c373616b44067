// AddressSanitizer's settings for the fuzz targets (ASAN_OPTIONS still overrides them). A
// quarantine of 16 MB instead of 256 MB: with the default, freed memory is handed out again
// only after hundreds of megabytes, so nearly every allocation of an input lands on a fresh
// page and costs a page fault; one input allocates far less than 16 MB, so a use after free
// within an input is still caught. Ten frames of allocation stack instead of thirty: one is
// recorded on every allocation, and ten place a finding.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16:malloc_context_size=10";
}
