// Replaced as the comment sources arrive.
namespace qs {}
