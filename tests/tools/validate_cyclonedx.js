// Validates a document against the CycloneDX 1.5 JSON schema with
// the CycloneDX project's own library. Prints "valid", or the schema's complaints and
// exits 1. NODE_PATH names where the library and its validator (ajv) are installed.
const fs = require('fs');
const CDX = require('@cyclonedx/cyclonedx-library');

const validator = new CDX.Validation.JsonStrictValidator('1.5');
validator.validate(fs.readFileSync(process.argv[2], 'utf8')).then(
    (errors) => {
      if (errors === null) {
        console.log('valid');
        process.exit(0);
      }
      console.log(JSON.stringify(errors, null, 2));
      process.exit(1);
    },
    (error) => {
      console.log('the validator failed: ' + error);
      process.exit(2);
    });
