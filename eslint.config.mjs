// ESLint's rules for the development server's page (host/server/web) and the node scripts of the
// tests: its recommended rules, with the globals of each place.
import js from "@eslint/js";
import globals from "globals";

export default [
  { ignores: ["node_modules/", "build/"] },
  js.configs.recommended,
  {
    files: ["host/server/web/**/*.js"],
    languageOptions: {
      sourceType: "module",
      // Swagger UI and uPlot are loaded by the page's classic scripts.
      globals: { ...globals.browser, SwaggerUIBundle: "readonly", uPlot: "readonly" },
    },
  },
  {
    files: ["**/*.mjs"],
    languageOptions: { sourceType: "module", globals: globals.node },
  },
  {
    // Its callbacks of waitForFunction and evaluate run in the page.
    files: ["tests/describe/api_page_browser.mjs"],
    languageOptions: { globals: { document: "readonly", window: "readonly" } },
  },
];
