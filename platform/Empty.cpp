// Gives every static library at least one translation unit while it is being built up.
namespace vantari {}
