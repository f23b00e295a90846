// An empty program that the build links with one whole module and the modules below it:
// a call from the module into a layer above it leaves a symbol undefined, and the link fails.
int main() {
  return 0;
}
