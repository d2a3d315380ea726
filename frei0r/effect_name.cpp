// The one thing that differs between the plugins: the effect each one runs.
// KVE_FREI0R_EFFECT is set per plugin by the build, one plugin per row of the
// effect table.
extern "C" const char kve_frei0r_effect[] = KVE_FREI0R_EFFECT;
